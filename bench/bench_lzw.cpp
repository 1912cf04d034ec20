// Encoding throughput of the GIF writer against giflib's encoder, on the same 2048 x 2048
// pictures (smooth, random pixels, and noise where 0 0 keeps following 16 1, for which graygif's
// encoder searches its slower table layout), both writing the whole file to memory (the code
// stream is all but about 800 bytes of it, so this is the LZW encoder's throughput). Each output is
// decoded with giflib and compared with the pixels before anything is timed.
// On a shared machine, run with many interleaved repetitions and compare the best of each:
//   bench_lzw --benchmark_repetitions=15 --benchmark_min_time=0.2
//             --benchmark_enable_random_interleaving=true
#include "gif/gif_writer.hpp"

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// width x height gray levels, row after row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

constexpr int side = 2048;

Picture smooth_picture() {
    Picture picture{side, side, {}};
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double value =
                std::sin(x / 180.0) * std::cos(y / 260.0) + 0.5 * std::sin((x + y) / 410.0);
            picture.pixels.push_back(static_cast<std::uint8_t>((value + 1.5) / 3.0 * 255.0 + 0.5));
        }
    return picture;
}

Picture random_picture() {
    Picture picture{side, side, {}};
    std::mt19937 random(2048);
    for (int i = 0; i < side * side; ++i)
        picture.pixels.push_back(static_cast<std::uint8_t>(random()));
    return picture;
}

// Noise without zeros, 16 1 0 0 every 1500 pixels.
Picture zeros_picture() {
    Picture picture{side, side, {}};
    std::mt19937 random(1500);
    for (int i = 0; i < side * side; ++i) {
        static constexpr std::uint8_t pattern[] = {16, 1, 0, 0};
        picture.pixels.push_back(i % 1500 < 4 ? pattern[i % 1500]
                                              : static_cast<std::uint8_t>(1 + random() % 255));
    }
    return picture;
}

// A preallocated memory output, emptied before every encoding.
struct Memory {
    std::vector<std::uint8_t> data = std::vector<std::uint8_t>(16u << 20);
    std::size_t size = 0;
};

bool append(Memory& memory, const std::uint8_t* bytes, std::size_t count) {
    if (count > memory.data.size() - memory.size) return false;
    std::memcpy(memory.data.data() + memory.size, bytes, count);
    memory.size += count;
    return true;
}

bool write_memory(void* context, const std::uint8_t* bytes, std::size_t count) {
    return append(*static_cast<Memory*>(context), bytes, count);
}

int giflib_write_memory(GifFileType* gif, const GifByteType* bytes, int count) {
    return append(*static_cast<Memory*>(gif->UserData), bytes, static_cast<std::size_t>(count))
               ? count
               : 0;
}

bool encode_graygif(const Picture& picture, graygif::GifWorkspace& workspace, Memory& out) {
    out.size = 0;
    graygif::sink_attach(workspace.sink, &out, write_memory);
    graygif::gif_begin(workspace.sink, workspace.encoder, picture.width, picture.height);
    graygif::lzw_add_pixels(workspace.encoder, picture.pixels.data(), picture.pixels.size());
    return graygif::gif_finish(workspace.sink, workspace.encoder);
}

bool encode_giflib(const Picture& picture, Memory& out) {
    out.size = 0;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, giflib_write_memory, &error);
    if (gif == nullptr) return false;
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<GifByteType>(i);
        colors[i] = {level, level, level};
    }
    ColorMapObject* map = GifMakeMapObject(256, colors);
    bool ok = EGifPutScreenDesc(gif, picture.width, picture.height, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, picture.width, picture.height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < picture.height; ++y) {
        auto* row = const_cast<GifPixelType*>(
            &picture.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width)]);
        ok = EGifPutLine(gif, row, picture.width) == GIF_OK;
    }
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    return ok;
}

struct MemoryInput {
    const Memory* file;
    std::size_t position;
};

int read_memory(GifFileType* gif, GifByteType* bytes, int count) {
    auto* input = static_cast<MemoryInput*>(gif->UserData);
    const std::size_t part =
        std::min(input->file->size - input->position, static_cast<std::size_t>(count));
    std::memcpy(bytes, input->file->data.data() + input->position, part);
    input->position += part;
    return static_cast<int>(part);
}

bool decodes_to(const Memory& file, const Picture& picture) {
    MemoryInput input{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, read_memory, &error);
    if (gif == nullptr) return false;
    bool same = DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 &&
                gif->SavedImages[0].ImageDesc.Width == picture.width &&
                gif->SavedImages[0].ImageDesc.Height == picture.height &&
                std::memcmp(gif->SavedImages[0].RasterBits, picture.pixels.data(),
                            picture.pixels.size()) == 0;
    DGifCloseFile(gif, &error);
    return same;
}

// Prints, after the usual table, each picture's throughput (CPU time, the best repetition) for
// both encoders and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.cpu_accumulated_time <= 0) continue;
            double& best = mpixels_[run.benchmark_name()]; // the best of the repetitions
            best = std::max(best, static_cast<double>(run.iterations) * side * side /
                                      run.cpu_accumulated_time / 1e6);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %16s %16s %8s\n", "picture", "graygif Mpix/s", "giflib Mpix/s",
                    "ratio");
        for (const char* name : {"smooth", "random", "zeros"}) {
            const double ours = mpixels_[std::string("graygif/") + name];
            const double theirs = mpixels_[std::string("giflib/") + name];
            std::printf("%-8s %16.1f %16.1f %7.2fx\n", name, ours, theirs,
                        theirs > 0 ? ours / theirs : 0.0);
        }
    }

  private:
    std::map<std::string, double> mpixels_;
};

} // namespace

int main(int argc, char** argv) {
    const Picture smooth = smooth_picture();
    const Picture random = random_picture();
    const Picture zeros = zeros_picture();
    auto workspace = std::make_unique<graygif::GifWorkspace>();
    auto out = std::make_unique<Memory>();

    for (const auto& [name, picture] :
         {std::pair{"smooth", &smooth}, std::pair{"random", &random}, std::pair{"zeros", &zeros}}) {
        const bool ours = encode_graygif(*picture, *workspace, *out) && decodes_to(*out, *picture);
        const std::size_t our_size = out->size;
        const bool theirs = encode_giflib(*picture, *out) && decodes_to(*out, *picture);
        if (!ours || !theirs) {
            std::fprintf(stderr, "%s: round trip failed (graygif %d, giflib %d)\n", name, ours,
                         theirs);
            return 1;
        }
        std::printf("%s: graygif %zu bytes, giflib %zu bytes, both decode to the pixels\n", name,
                    our_size, out->size);

        benchmark::RegisterBenchmark((std::string("graygif/") + name).c_str(),
                                     [&, picture](benchmark::State& state) {
                                         for (auto _ : state)
                                             benchmark::DoNotOptimize(
                                                 encode_graygif(*picture, *workspace, *out));
                                         state.SetItemsProcessed(state.iterations() * side * side);
                                     })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("giflib/") + name).c_str(),
                                     [&, picture](benchmark::State& state) {
                                         for (auto _ : state)
                                             benchmark::DoNotOptimize(
                                                 encode_giflib(*picture, *out));
                                         state.SetItemsProcessed(state.iterations() * side * side);
                                     })
            ->Unit(benchmark::kMillisecond);
    }

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
