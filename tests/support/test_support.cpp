#include "test_support.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace graygif::testing {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "graygif-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Make everything removable again (tests may take permissions away).
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
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

namespace {

void drain(int fd, std::string& into, bool& open) {
    char chunk[65536];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0)
        into.append(chunk, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR)
        open = false;
}

} // namespace

ProcessResult run_process(const std::string& program, const std::vector<std::string>& argv,
                          const std::string& cwd, const std::vector<std::string>& env) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    std::vector<char*> arg_ptrs;
    for (const auto& a : argv) arg_ptrs.push_back(const_cast<char*>(a.c_str()));
    arg_ptrs.push_back(nullptr);
    std::vector<char*> env_ptrs;
    for (const auto& e : env) env_ptrs.push_back(const_cast<char*>(e.c_str()));
    env_ptrs.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null_in = ::open("/dev/null", O_RDONLY);
        ::dup2(null_in, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::execve(program.c_str(), arg_ptrs.data(), env_ptrs.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    ProcessResult result;
    bool out_open = true;
    bool err_open = true;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (out_open && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            drain(out_pipe[0], result.out, out_open);
        if (err_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            drain(err_pipe[0], result.err, err_open);
        if (!out_open) fds[0].fd = -1;
        if (!err_open) fds[1].fd = -1;
    }
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

const std::string& program_path() {
    static const std::string path = GRAYGIF_PROGRAM_PATH;
    return path;
}

ProcessResult run_graygif(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env) {
    std::vector<std::string> argv{"graygif"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(program_path(), argv, cwd, env);
}

} // namespace graygif::testing
