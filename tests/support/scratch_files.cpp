// The scratch-folder and whole-file helpers of test_support.hpp, standard library only, for every
// platform. Running the program as a child process is in test_support.cpp (POSIX).
#include "support/test_support.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace graygif::testing {

ScratchDir::ScratchDir() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("graygif-test-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("no scratch folder could be created");
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Tests may take permissions away: make everything removable again first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string known_two_by_two_gif() {
    std::string gif("GIF87a\x02\x00\x02\x00\xF7\x00\x00", 13);
    for (int i = 0; i < 256; ++i) gif.append(3, static_cast<char>(i));
    gif.append("\x2C\x00\x00\x00\x00\x02\x00\x02\x00\x00\x08", 11);
    gif.append(std::begin(known_two_by_two_stream), std::end(known_two_by_two_stream));
    gif.append("\x00\x3B", 2);
    return gif;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace graygif::testing
