// The whole conversion of a data file into a GIF in memory. Input: bytes 0 and 1 choose the
// picture's width and height, byte 2 transposition, a file that changes when it is read again
// (the second half of the data replaces the first at the first seek) and the reading buffer's
// size; the rest is the data file.
// Checks: the conversion ends with a status (never an exit or a crash); a bad row carries its
// reader result and a row number from 1; a file that grows between the passes (by a copy of
// itself) converts exactly as it did before it grew; a converted picture, written as GIF into
// memory, decodes with giflib to the same size and pixels; writing it twice gives the same bytes.
#include "fuzz_check.hpp"

#include "app/conversion_run.hpp"
#include "support/gif_decode.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace graygif;

namespace {

// A data file whose content may be replaced by another at the first seek.
struct ChangingSource {
    const char* data = nullptr;
    std::size_t size = 0;
    const char* replacement = nullptr; // nullptr: the file never changes
    std::size_t replacement_size = 0;
    std::size_t position = 0;
    std::size_t grown_size = 0; // the size `grow` gives it between the passes
};

std::int64_t read_changing(void* context, char* buffer, std::size_t size) {
    auto& source = *static_cast<ChangingSource*>(context);
    const std::size_t n = std::min(size, source.size - source.position);
    std::memcpy(buffer, source.data + source.position, n);
    source.position += n;
    return static_cast<std::int64_t>(n);
}

bool seek_changing(void* context, std::uint64_t offset) {
    auto& source = *static_cast<ChangingSource*>(context);
    if (source.replacement != nullptr) {
        source.data = source.replacement;
        source.size = source.replacement_size;
        source.replacement = nullptr;
    }
    source.position = static_cast<std::size_t>(std::min<std::uint64_t>(offset, source.size));
    return true;
}

void grow(void* context) {
    auto& source = *static_cast<ChangingSource*>(context);
    source.size = source.grown_size;
}

bool append_to_vector(void* context, const std::uint8_t* data, std::size_t size) {
    auto& bytes = *static_cast<std::vector<std::uint8_t>*>(context);
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

std::vector<std::uint8_t> encode(const Picture& picture, GifWorkspace& workspace) {
    std::vector<std::uint8_t> bytes;
    sink_attach(workspace.sink, &bytes, append_to_vector);
    FUZZ_CHECK(gif_encode(workspace.sink, workspace.encoder, picture));
    return bytes;
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
    ChangingSource source{text, text_size, nullptr, 0, 0, 0};
    if (changes) {
        source.size = text_size / 2;
        source.replacement = text + text_size / 2;
        source.replacement_size = text_size - text_size / 2;
    }
    const ConversionResult result = convert_data(
        state, ByteSource{&source, read_changing, seek_changing}, transpose, TextSink{}, {});
    FUZZ_CHECK(result.status == ConversionStatus::converted ||
               result.status == ConversionStatus::bad_row);
    if (!changes) {
        const std::string twice = std::string(text, text_size) + std::string(text, text_size);
        ChangingSource growing{twice.data(), text_size, nullptr, 0, 0, twice.size()};
        ConversionState grown;
        prepare(grown, data);
        grown.between_passes = Seam{&growing, grow};
        const ConversionResult again = convert_data(
            grown, ByteSource{&growing, read_changing, seek_changing}, transpose, TextSink{}, {});
        FUZZ_CHECK(again.status == result.status && again.row_result == result.row_result &&
                   again.row_number == result.row_number && again.clipped == result.clipped);
        FUZZ_CHECK(grown.picture.pixels == state.picture.pixels);
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
    FUZZ_CHECK(decoded.pixels == state.picture.pixels);
    FUZZ_CHECK(encode(state.picture, *workspace) == bytes);
    return 0;
}
