// The whole conversion of a data file into a GIF in memory. Input: bytes 0 and 1 choose the
// picture's width and height, byte 2 transposition, a file that changes when it is read again
// (the second half of the data replaces the first when it is first read again from the start) and
// the reading buffer's size; the rest is the data file. Checks: the conversion ends with a status
// (never an exit or a crash); a bad row carries its reader result and a row number from 1; split
// between worker threads in chunks of 1 to 23 bytes, a file that does not change converts exactly
// as it does read by one thread (status, row, picture, messages, progress); a file that grows
// between the passes (by a copy of itself) converts exactly as it did before it grew; a converted
// picture, written as GIF into memory, decodes with giflib to the same size and pixels; writing it
// twice gives the same bytes.
#include "fuzz_check.hpp"

#include "app/conversion_run.hpp"
#include "gif/gif_testing.hpp"
#include "support/gif_decode.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace graygif;

namespace {

// A data file whose content may be replaced by another when it is first read again from the
// start.
struct ChangingSource {
    const char* data = nullptr;
    std::size_t size = 0;
    const char* replacement = nullptr; // nullptr: the file never changes
    std::size_t replacement_size = 0;
    bool read_before = false;
    std::size_t grown_size = 0; // the size `grow` gives it between the passes
};

std::int64_t read_changing(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    auto& source = *static_cast<ChangingSource*>(context);
    if (source.replacement != nullptr) { // else read by several threads at once, unchanged
        if (offset == 0 && source.read_before) {
            source.data = source.replacement;
            source.size = source.replacement_size;
            source.replacement = nullptr;
        }
        source.read_before = true;
    }
    const std::size_t from = static_cast<std::size_t>(std::min<std::uint64_t>(offset, source.size));
    const std::size_t n = std::min(size, source.size - from);
    std::memcpy(buffer, source.data + from, n);
    return static_cast<std::int64_t>(n);
}

bool never_changed(void*) {
    return true;
}

void append_text(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
}

void append_progress(void* context, char character, std::uint64_t) {
    static_cast<std::string*>(context)->push_back(character);
}

ConversionResult convert(ConversionState& state, ChangingSource& source, bool transpose,
                         std::string& messages, std::string& progress) {
    const DataSource data{ByteSource{&source, read_changing}, source.size, never_changed};
    return convert_data(state, data, transpose, TextSink{&messages, append_text},
                        ProgressSink{&progress, append_progress});
}

void grow(void* context) {
    auto& source = *static_cast<ChangingSource*>(context);
    source.size = source.grown_size;
}

std::vector<std::uint8_t> encode(const Picture& picture, GifWorkspace& workspace) {
    bool written = false;
    std::vector<std::uint8_t> bytes = testing::encode_gif(picture, workspace, &written);
    FUZZ_CHECK(written);
    return bytes;
}

bool same_conversion(const ConversionResult& a, const ConversionState& a_state,
                     const ConversionResult& b, const ConversionState& b_state) {
    return a.status == b.status && a.row_result == b.row_result && a.row_number == b.row_number &&
           a.clipped == b.clipped && a_state.picture.pixels == b_state.picture.pixels;
}

void prepare(ConversionState& state, const std::uint8_t* data) {
    state.picture.width = 2 + data[0] % 40;
    state.picture.height = 2 + data[1] % 40;
    state.picture.pixels.assign(static_cast<std::size_t>(state.picture.width) *
                                    static_cast<std::size_t>(state.picture.height),
                                std::uint8_t{0x5A});
    state.values.assign(max_row_values, 0.0f);
    state.read_buffer_size = min_read_buffer_size + (data[2] >> 2) * 8u;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    static const std::unique_ptr<GifWorkspace> workspace(new GifWorkspace);
    ConversionState state;
    prepare(state, data);
    const bool transpose = (data[2] & 1) != 0;
    const bool changes = (data[2] & 2) != 0;

    const char* text = reinterpret_cast<const char*>(data + 3);
    const std::size_t text_size = size - 3;
    ChangingSource source{text, text_size, nullptr, 0, false, 0};
    if (changes) {
        source.size = text_size / 2;
        source.replacement = text + text_size / 2;
        source.replacement_size = text_size - text_size / 2;
    }
    std::string messages, progress;
    const ConversionResult result = convert(state, source, transpose, messages, progress);
    FUZZ_CHECK(result.status == ConversionStatus::converted ||
               result.status == ConversionStatus::bad_row);
    if (!changes) {
        // Split between workers in chunks of a few bytes: the same in every respect.
        static WorkerPool* const pool = [] {
            auto* started = new WorkerPool; // never stopped: its threads wait until the exit
            pool_start(*started, 3);
            return started;
        }();
        ConversionState split;
        prepare(split, data);
        split.pool = pool;
        split.split_from = 0;
        split.chunk_size = 1 + data[0] % 23;
        ChangingSource again{text, text_size, nullptr, 0, false, 0};
        std::string split_messages, split_progress;
        const ConversionResult many =
            convert(split, again, transpose, split_messages, split_progress);
        FUZZ_CHECK(same_conversion(many, split, result, state));
        FUZZ_CHECK(split_messages == messages && split_progress == progress);
    }
    if (!changes) {
        const std::string twice = std::string(text, text_size) + std::string(text, text_size);
        ChangingSource growing{twice.data(), text_size, nullptr, 0, false, twice.size()};
        ConversionState grown;
        prepare(grown, data);
        grown.between_passes = Seam{&growing, grow};
        std::string grown_messages, grown_progress;
        const ConversionResult again =
            convert(grown, growing, transpose, grown_messages, grown_progress);
        FUZZ_CHECK(same_conversion(again, grown, result, state));
    }
    if (result.status == ConversionStatus::bad_row) {
        FUZZ_CHECK(result.row_result < 0 && result.row_result >= row_too_many_values);
        FUZZ_CHECK(result.row_number >= 1);
        return 0;
    }

    const std::vector<std::uint8_t> bytes = encode(state.picture, *workspace);
    const testing::DecodedGif decoded = testing::decode_gif(bytes);
    FUZZ_CHECK(decoded.ok);
    FUZZ_CHECK(decoded.width == state.picture.width && decoded.height == state.picture.height);
    FUZZ_CHECK(std::equal(decoded.pixels.begin(), decoded.pixels.end(),
                          state.picture.pixels.begin(), state.picture.pixels.end()));
    FUZZ_CHECK(encode(state.picture, *workspace) == bytes);
    return 0;
}
