#include "test_support.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace graygif::testing {

namespace {

// Reads what `fd` holds; once `kept` bytes came, closes it (fd becomes -1).
void drain(int& fd, std::string& into, bool& open, std::size_t kept) {
    char chunk[65536];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0)
        into.append(chunk, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR)
        open = false;
    if (open && into.size() >= kept) {
        ::close(fd);
        fd = -1;
        open = false;
    }
}

long long steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RunningProcess start_process(const std::string& program, const std::vector<std::string>& argv,
                             const std::string& cwd, const std::vector<std::string>& env,
                             const ChildOptions& options) {
    // Close-on-exec, so that children started at the same time do not hold each other's pipes.
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> arg_ptrs;
    for (const auto& a : argv) arg_ptrs.push_back(const_cast<char*>(a.c_str()));
    arg_ptrs.push_back(nullptr);
    std::vector<char*> env_ptrs;
    for (const auto& e : env) env_ptrs.push_back(const_cast<char*>(e.c_str()));
    env_ptrs.push_back(nullptr);

    int in_pipe[2] = {-1, -1};
    if (options.input != nullptr) {
        if (::pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        const char* data = options.input->data();
        for (std::size_t left = options.input->size(); left > 0;) {
            const ssize_t done = ::write(in_pipe[1], data, left);
            if (done <= 0) throw std::runtime_error("input larger than the pipe");
            data += done;
            left -= static_cast<std::size_t>(done);
        }
        ::close(in_pipe[1]);
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(options.input != nullptr ? in_pipe[0] : ::open("/dev/null", O_RDONLY), 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        if (options.file_size_limit >= 0) {
            const auto limit = static_cast<rlim_t>(options.file_size_limit);
            const rlimit size{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &size) != 0) ::_exit(125);
        }
        if (options.open_files_limit >= 0) {
            const auto limit = static_cast<rlim_t>(options.open_files_limit);
            const rlimit files{limit, limit};
            if (::setrlimit(RLIMIT_NOFILE, &files) != 0) ::_exit(125);
        }
        if (options.address_space_limit >= 0) {
            const auto limit = static_cast<rlim_t>(options.address_space_limit);
            const rlimit space{limit, limit};
            if (::setrlimit(RLIMIT_AS, &space) != 0) ::_exit(125);
        }
        if (options.ignore_file_size_signal) ::signal(SIGXFSZ, SIG_IGN);
        if (options.group_id >= 0 && ::setgid(static_cast<gid_t>(options.group_id)) != 0)
            ::_exit(125);
        if (options.user_id >= 0 && ::setuid(static_cast<uid_t>(options.user_id)) != 0)
            ::_exit(125);
        ::execve(program.c_str(), arg_ptrs.data(), env_ptrs.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (in_pipe[0] >= 0) ::close(in_pipe[0]);
    return RunningProcess{
        pid, out_pipe[0], err_pipe[0], options.output_kept,
        options.timeout_seconds > 0 ? steady_ms() + 1000LL * options.timeout_seconds : -1};
}

ProcessResult finish_process(RunningProcess& process) {
    ProcessResult result;
    bool out_open = true;
    bool err_open = true;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_open ? process.out_fd : -1, POLLIN, 0},
                         {err_open ? process.err_fd : -1, POLLIN, 0}};
        int wait_ms = -1;
        if (process.kill_at_ms >= 0) {
            const long long left = process.kill_at_ms - steady_ms();
            if (left <= 0) {
                // The output ends when the killed child's pipes close.
                ::kill(process.pid, SIGKILL);
                process.kill_at_ms = -1;
            }
            wait_ms = left <= 0 ? -1 : static_cast<int>(left);
        }
        if (::poll(fds, 2, wait_ms) < 0 && errno != EINTR) break;
        if (out_open && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            drain(process.out_fd, result.out, out_open, process.output_kept);
        if (err_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            drain(process.err_fd, result.err, err_open, process.output_kept);
    }
    if (process.out_fd >= 0) ::close(process.out_fd);
    if (process.err_fd >= 0) ::close(process.err_fd);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(process.pid, &status, process.kill_at_ms >= 0 ? WNOHANG : 0);
        if (done == process.pid || (done < 0 && errno != EINTR)) break;
        if (done == 0 && steady_ms() >= process.kill_at_ms) {
            ::kill(process.pid, SIGKILL);
            process.kill_at_ms = -1;
        } else if (done == 0) {
            ::usleep(1000);
        }
    }
    process = RunningProcess{};
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& argv,
                          const std::string& cwd, const std::vector<std::string>& env,
                          const ChildOptions& options) {
    RunningProcess process = start_process(program, argv, cwd, env, options);
    return finish_process(process);
}

ChildOptions as_ordinary_user(const ScratchDir& dir) {
    ChildOptions options;
    if (::geteuid() != 0) return options;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    options.user_id = nobody;
    options.group_id = nobody;
    // A copy the other user can reach: the build folder may lie in a folder closed to others.
    options.program = dir.path() + "/.graygif-program";
    std::filesystem::copy_file(program_path(), options.program,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(options.program, std::filesystem::perms::owner_all |
                                                      std::filesystem::perms::group_exec |
                                                      std::filesystem::perms::others_exec |
                                                      std::filesystem::perms::group_read |
                                                      std::filesystem::perms::others_read);
    return options;
}

const std::string& program_path() {
    static const std::string path = GRAYGIF_PROGRAM_PATH;
    return path;
}

ProcessResult run_graygif(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env, const ChildOptions& options) {
    std::vector<std::string> argv{"graygif"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(options.program.empty() ? program_path() : options.program, argv, cwd, env,
                       options);
}

} // namespace graygif::testing
