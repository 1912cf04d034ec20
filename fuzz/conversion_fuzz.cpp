// The conversion of a run of one to three data files into GIF pictures in memory. Input: bytes 0
// and 1 choose the picture's X and Y size (and byte 0 from 128 on double precision); byte 2
// transposition (bit 0), a file that changes while it is read (bit 1: from the read that byte 1
// chooses on, it holds the second half of the data instead of the first) and the reading buffer's
// size (bits 2 to 7); byte 3 a picture as large as the data (bit 0, switch A), one scale for the
// run (bit 1, switch U), the number of files (bits 2 and 3: 1 + their value, at most 3), the
// stretch (bits 4 and 5) and limits given instead of the data's (bit 6: from bytes 0 and 1); the
// rest is the data, the files cut apart at form feeds.
// Checks: every conversion ends with a status (never an exit or a crash); a bad row carries its
// reader result, a row number from 1 and a line number; split between worker threads in chunks of
// 1 to 23 bytes, and with each file after the first read ahead while the one before is drawn, a
// run that does not change converts exactly as it does read by one thread (status, row, picture
// size and pixels, messages, progress, values counted beyond the limits); a file that changes while
// it is read, alone or split, keeps no value outside the range it found (drawing asserts it); a
// converted picture, written as GIF into memory, decodes with giflib to the same size and pixels;
// writing it twice gives the same bytes.
#include "fuzz_check.hpp"

#include "convert/convert_testing.hpp"
#include "gif/gif_testing.hpp"
#include "support/gif_decode.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace graygif;
using testing::MemoryConversion;

namespace {

// A data file that threads may read at once; from the `change_at`-th read on it holds
// `replacement` (nullptr: it never changes).
struct ChangingSource {
    const char* data = nullptr;
    std::size_t size = 0;
    const char* replacement = nullptr;
    std::size_t replacement_size = 0;
    std::size_t change_at = 0;
    std::atomic<std::size_t> reads{0};
};

std::int64_t read_changing(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    auto& source = *static_cast<ChangingSource*>(context);
    const bool changed =
        source.replacement != nullptr && source.reads.fetch_add(1) >= source.change_at;
    const char* const data = changed ? source.replacement : source.data;
    const std::size_t length = changed ? source.replacement_size : source.size;
    const std::size_t from = static_cast<std::size_t>(std::min<std::uint64_t>(offset, length));
    const std::size_t n = std::min(size, length - from);
    std::memcpy(buffer, data + from, n);
    return static_cast<std::int64_t>(n);
}

bool unchanged(void* context) {
    const auto& source = *static_cast<ChangingSource*>(context);
    return source.replacement == nullptr || source.reads.load() <= source.change_at;
}

DataSource source_of(ChangingSource& source) {
    return DataSource{ByteSource{&source, read_changing, false}, source.size, unchanged};
}

// The files of a run (at most three).
struct RunFiles {
    std::array<ChangingSource, 3> file;
    std::size_t count = 1;
};

enum class Threads { alone, split, ahead };

EngineSettings settings_for(const std::uint8_t* data, Threads threads) {
    EngineSettings settings;
    settings.double_precision = data[0] >= 128;
    settings.x_size = 2 + data[0] % 40;
    settings.y_size = 2 + data[1] % 40;
    settings.transpose = (data[2] & 1) != 0;
    settings.read_buffer_size = min_read_buffer_size + (data[2] >> 2) * 8u;
    settings.auto_size = (data[3] & 1) != 0;
    settings.bin = (data[3] & 128) != 0 ? 2 + (data[1] >> 6) : 1; // blocks of 2..5
    settings.workers = threads == Threads::alone ? 1 : 3;
    // Split from the first byte on; read ahead, and never split.
    settings.split_from = threads == Threads::split ? 1 : UINT64_MAX;
    settings.chunk_size = 1 + data[0] % 23;
    // The rows' format, from what the picture's height leaves of the second byte.
    RowFormat& format = settings.format;
    switch (data[1] / 40) {
    case 1:
        format.nodata = true;
        break;
    case 2:
        format.nodata = true;
        row_format_set_nodata_value(format, "-1");
        break;
    case 3:
        format.skip_rows = 1;
        format.skip_columns = 1;
        break;
    case 4:
        format.decimal_comma = true;
        break;
    case 5:
        format.decimal_comma = true;
        format.nodata = true;
        format.skip_rows = 2;
        break;
    case 6:
        format.nodata = true;
        format.skip_columns = 2;
        break;
    default:
        break;
    }
    settings.nodata_level = data[2];
    return settings;
}

bool same_conversion(const MemoryConversion& a, const MemoryConversion& b) {
    return a.result.status == b.result.status && a.result.row_result == b.result.row_result &&
           a.result.row_number == b.result.row_number &&
           a.result.problem.line == b.result.problem.line && a.result.clipped == b.result.clipped &&
           a.size.width == b.size.width && a.size.height == b.size.height && a.pixels == b.pixels &&
           a.messages == b.messages && a.progress == b.progress &&
           a.counts.below == b.counts.below && a.counts.above == b.counts.above &&
           a.counts.not_positive == b.counts.not_positive && a.result.missing == b.result.missing &&
           a.result.data_end.line == b.result.data_end.line && a.result.unread == b.result.unread;
}

// The scale the input chooses over `range` (the data's).
DrawScale scale_for(const std::uint8_t* data, const ValueRange& range) {
    constexpr Stretch stretches[] = {Stretch::linear, Stretch::sqrt, Stretch::log, Stretch::asinh};
    DrawScale scale = data_scale(range);
    scale.stretch = stretches[(data[3] >> 4) & 3];
    if ((data[3] & 64) != 0) {
        scale.from_data = false;
        scale.low = scale.stretch == Stretch::log ? 0.5 * (1 + data[1] % 8) : data[1] % 16 - 4.0;
        scale.high = scale.low + 1 + data[0] % 50;
    } else if (scale.stretch == Stretch::log && !(scale.low > 0)) {
        scale.stretch = Stretch::linear; // a log scale needs a positive low limit
    }
    return scale;
}

// Reads and draws `files` in order as a run does, up to the first that is not converted; with
// `one_scale` each is read for the scale of the run first. @return what each gave.
std::vector<MemoryConversion> convert_run(const std::uint8_t* data, Threads threads,
                                          RunFiles& files, bool one_scale) {
    const EnginePtr engine = engine_create(settings_for(data, threads));
    std::vector<MemoryConversion> out(files.count);
    ValueRange scale;
    for (std::size_t k = 0; one_scale && k < files.count; ++k) {
        out[k].result = engine_read(*engine, source_of(files.file[k]), false, {}, {});
        if (out[k].result.status != ConversionStatus::converted) return out;
        merge_range(scale, out[k].result.range);
        files.file[k].reads = 0;
    }
    bool ahead = false;
    for (std::size_t k = 0; k < files.count; ++k) {
        MemoryConversion& file = out[k];
        const TextSink messages{&file.messages, testing::append_message};
        const ProgressSink progress{&file.progress, testing::append_progress};
        if (ahead && engine_take_read_ahead(*engine, file.result)) {
            engine_show_read_ahead(*engine, messages, progress);
        } else {
            file.result = engine_read(*engine, source_of(files.file[k]), true, messages, progress);
        }
        if (file.result.status != ConversionStatus::converted) return out;
        ahead = threads == Threads::ahead && !one_scale && k + 1 < files.count &&
                engine_read_ahead(*engine, source_of(files.file[k + 1]));
        file.size = engine_picture_size(*engine);
        file.counts = engine_draw_scaled(*engine, file.result,
                                         scale_for(data, one_scale ? scale : file.result.range),
                                         progress, PixelSink{&file, testing::collect_rows});
    }
    return out;
}

std::vector<std::uint8_t> encode(const MemoryConversion& converted, GifWorkspace& workspace) {
    testing::Picture picture;
    picture.width = converted.size.width;
    picture.height = converted.size.height;
    picture.pixels.assign(converted.pixels.begin(), converted.pixels.end());
    bool written = false;
    std::vector<std::uint8_t> bytes = testing::encode_gif(picture, workspace, &written);
    FUZZ_CHECK(written);
    return bytes;
}

// The files of the input: cut at form feeds, at most `count`.
void cut_files(RunFiles& files, const char* text, std::size_t size, std::size_t count) {
    files.count = 0;
    for (std::size_t begin = 0; files.count < count;) {
        const char* feed = static_cast<const char*>(
            files.count + 1 < count ? std::memchr(text + begin, '\f', size - begin) : nullptr);
        const std::size_t end = feed != nullptr ? static_cast<std::size_t>(feed - text) : size;
        files.file[files.count].data = text + begin;
        files.file[files.count].size = end - begin;
        ++files.count;
        if (feed == nullptr) break;
        begin = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    static const std::unique_ptr<GifWorkspace> workspace(new GifWorkspace);
    const char* text = reinterpret_cast<const char*>(data + 4);
    const std::size_t text_size = size - 4;
    const bool one_scale = (data[3] & 2) != 0;

    if ((data[2] & 2) != 0) {
        // Read alone and split, the file changing at a read the input chooses.
        for (const Threads threads : {Threads::alone, Threads::split}) {
            RunFiles files;
            ChangingSource& file = files.file[0];
            file.data = text;
            file.size = text_size / 2;
            file.replacement = text + text_size / 2;
            file.replacement_size = text_size - text_size / 2;
            file.change_at = data[1] % 8;
            const ConversionStatus status =
                convert_run(data, threads, files, false)[0].result.status;
            FUZZ_CHECK(status == ConversionStatus::converted ||
                       status == ConversionStatus::bad_row);
        }
        return 0;
    }

    const std::size_t count = std::min<std::size_t>(1 + ((data[3] >> 2) & 3), 3);
    RunFiles files;
    cut_files(files, text, text_size, count);
    const std::vector<MemoryConversion> alone = convert_run(data, Threads::alone, files, one_scale);
    for (const Threads threads : {Threads::split, Threads::ahead}) {
        RunFiles again;
        cut_files(again, text, text_size, count);
        const std::vector<MemoryConversion> other = convert_run(data, threads, again, one_scale);
        for (std::size_t k = 0; k < alone.size(); ++k) {
            FUZZ_CHECK(same_conversion(other[k], alone[k]));
        }
    }
    for (const MemoryConversion& file : alone) {
        const ConversionResult& result = file.result;
        FUZZ_CHECK(result.status == ConversionStatus::converted ||
                   result.status == ConversionStatus::bad_row);
        if (result.status == ConversionStatus::bad_row) {
            FUZZ_CHECK(result.row_result < 0 && result.row_result >= row_too_many_values);
            FUZZ_CHECK(result.row_number >= 1 && result.problem.line >= 1);
            break;
        }
        if (file.pixels.empty()) break; // read for the scale only: a later file stopped the run
        const std::vector<std::uint8_t> bytes = encode(file, *workspace);
        const testing::DecodedGif decoded = testing::decode_gif(bytes);
        FUZZ_CHECK(decoded.ok);
        FUZZ_CHECK(decoded.width == file.size.width && decoded.height == file.size.height);
        FUZZ_CHECK(std::equal(decoded.pixels.begin(), decoded.pixels.end(), file.pixels.begin(),
                              file.pixels.end()));
        FUZZ_CHECK(encode(file, *workspace) == bytes);
    }
    return 0;
}
