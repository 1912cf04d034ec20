// The whole conversion of a data file into a GIF in memory. Input: bytes 0 and 1 choose the
// picture's width and height (and byte 0 from 128 on double precision), byte 2 transposition, a
// file that changes while it is read (from the read that byte 1 chooses on, it holds the second
// half of the data instead of the first) and the reading buffer's size; the rest is the data file.
// Checks: the conversion ends with a status (never an exit or a crash); a bad row carries its
// reader result, a row number from 1 and a line number; split between worker threads in chunks of 1
// to 23 bytes, a file that does not change converts exactly as it does read by one thread (status,
// row, picture, messages, progress); a file that changes while it is read, alone or split, keeps no
// value outside the range it found; a converted picture, written as GIF into memory, decodes with
// giflib to the same size and pixels; writing it twice gives the same bytes.
#include "fuzz_check.hpp"

#include "convert/convert_testing.hpp"
#include "gif/gif_testing.hpp"
#include "support/gif_decode.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
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

MemoryConversion convert(ConversionState& state, ChangingSource& source, bool transpose) {
    const DataSource data{ByteSource{&source, read_changing, false}, source.size, unchanged};
    return testing::convert_in_memory(state, data, transpose);
}

std::vector<std::uint8_t> encode(const Picture& picture, GifWorkspace& workspace) {
    bool written = false;
    std::vector<std::uint8_t> bytes = testing::encode_gif(picture, workspace, &written);
    FUZZ_CHECK(written);
    return bytes;
}

bool same_conversion(const MemoryConversion& a, const MemoryConversion& b) {
    return a.result.status == b.result.status && a.result.row_result == b.result.row_result &&
           a.result.row_number == b.result.row_number &&
           a.result.problem.line == b.result.problem.line && a.result.clipped == b.result.clipped &&
           a.picture.pixels == b.picture.pixels && a.messages == b.messages &&
           a.progress == b.progress;
}

void prepare(ConversionState& state, const std::uint8_t* data) {
    state.double_precision = data[0] >= 128;
    state.width = 2 + data[0] % 40;
    state.height = 2 + data[1] % 40;
    state.read_buffer_size = min_read_buffer_size + (data[2] >> 2) * 8u;
}

WorkerPool& shared_pool() {
    static WorkerPool* const pool = [] {
        auto* started = new WorkerPool; // never stopped: its threads wait until the exit
        pool_start(*started, 3);
        return started;
    }();
    return *pool;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    static const std::unique_ptr<GifWorkspace> workspace(new GifWorkspace);
    const bool transpose = (data[2] & 1) != 0;
    const bool changes = (data[2] & 2) != 0;
    const char* text = reinterpret_cast<const char*>(data + 3);
    const std::size_t text_size = size - 3;

    if (changes) {
        // Read alone and split, the file changing at a read the input chooses.
        for (const bool split : {false, true}) {
            ChangingSource source;
            source.data = text;
            source.size = text_size / 2;
            source.replacement = text + text_size / 2;
            source.replacement_size = text_size - text_size / 2;
            source.change_at = data[1] % 8;
            ConversionState state;
            prepare(state, data);
            if (split) {
                state.pool = &shared_pool();
                state.split_from = 0;
                state.chunk_size = 1 + data[0] % 23;
            }
            const MemoryConversion changed = convert(state, source, transpose);
            FUZZ_CHECK(changed.result.status == ConversionStatus::converted ||
                       changed.result.status == ConversionStatus::bad_row);
            if (changed.result.status == ConversionStatus::converted) {
                FUZZ_CHECK(testing::kept_values_within_range(state, changed.result.range));
            }
        }
        return 0;
    }

    ConversionState state;
    prepare(state, data);
    ChangingSource source;
    source.data = text;
    source.size = text_size;
    const MemoryConversion result = convert(state, source, transpose);
    FUZZ_CHECK(result.result.status == ConversionStatus::converted ||
               result.result.status == ConversionStatus::bad_row);

    // Split between workers in chunks of a few bytes: the same in every respect.
    ConversionState split;
    prepare(split, data);
    split.pool = &shared_pool();
    split.split_from = 0;
    split.chunk_size = 1 + data[0] % 23;
    ChangingSource again;
    again.data = text;
    again.size = text_size;
    FUZZ_CHECK(same_conversion(convert(split, again, transpose), result));

    if (result.result.status == ConversionStatus::bad_row) {
        FUZZ_CHECK(result.result.row_result < 0 && result.result.row_result >= row_too_many_values);
        FUZZ_CHECK(result.result.row_number >= 1 && result.result.problem.line >= 1);
        return 0;
    }
    FUZZ_CHECK(testing::kept_values_within_range(state, result.result.range));
    const std::vector<std::uint8_t> bytes = encode(result.picture, *workspace);
    const testing::DecodedGif decoded = testing::decode_gif(bytes);
    FUZZ_CHECK(decoded.ok);
    FUZZ_CHECK(decoded.width == state.width && decoded.height == state.height);
    FUZZ_CHECK(std::equal(decoded.pixels.begin(), decoded.pixels.end(),
                          result.picture.pixels.begin(), result.picture.pixels.end()));
    FUZZ_CHECK(encode(result.picture, *workspace) == bytes);
    return 0;
}
