// Helpers shared by the tests: scratch folders, whole-file reads and writes, and running the
// built program as a child process with a controlled environment.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace graygif::testing {

// A fresh empty folder, removed with everything in it when the object goes.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string& path);

// The 2 x 2 picture with the pixels 0 255 (top row) and 255 0, as the GIF file the program writes
// of it (802 bytes), and the one sub-block of its code stream within that file.
std::string known_two_by_two_gif();
inline constexpr unsigned char known_two_by_two_stream[] = {0x07, 0x00, 0x01, 0xFC,
                                                            0xFB, 0x07, 0x20, 0x20};

// The environment most runs of the program get: nothing of the caller's, time in UTC.
inline const std::vector<std::string> plain_env{"PATH=/usr/bin:/bin", "TZ=UTC"};

struct ProcessResult {
    int exit_code = -1; // the exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// What a child process is given besides its arguments, folder and environment; set in the child
// before it starts the program.
struct ChildOptions {
    long long file_size_limit = -1;     // RLIMIT_FSIZE in bytes; -1: inherited
    long long open_files_limit = -1;    // RLIMIT_NOFILE; -1: inherited
    long long address_space_limit = -1; // RLIMIT_AS in bytes; -1: inherited
    // Standard input: these bytes through a pipe (at most the pipe's 64 KiB: they are written
    // before the child runs); none: /dev/null.
    const std::string* input = nullptr;
    bool ignore_file_size_signal = false; // SIGXFSZ ignored (the program inherits that)
    int user_id = -1;                     // run as this user and group (needs root); -1: as is
    int group_id = -1;
    std::string program; // run_graygif starts this copy of the program; empty: the built one
    // The test closes its end of each output pipe once this many bytes came through it, as
    // `| head -c1` does; later writes of the child to that stream fail.
    std::size_t output_kept = static_cast<std::size_t>(-1);
    // A child that may hang is killed with SIGKILL after this many seconds (exit code 128 + 9);
    // 0: waited for however long it takes.
    int timeout_seconds = 0;
};

// Where a file must be closed to others than its owner: as root, the program runs as user nobody
// in `dir`, which is opened to everyone, since root reads and writes whatever the permissions say.
ChildOptions as_ordinary_user(const ScratchDir& dir);
constexpr int nobody = 65534; // user and group

// A child started by start_process; its output is read by finish_process.
struct RunningProcess {
    int pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    std::size_t output_kept = static_cast<std::size_t>(-1);
    long long kill_at_ms = -1; // on the steady clock; -1: never
};

// Starts `program` with `argv` (argv[0] included) in folder `cwd`, with exactly the environment
// entries `env` ("NAME=value") and no standard input.
RunningProcess start_process(const std::string& program, const std::vector<std::string>& argv,
                             const std::string& cwd, const std::vector<std::string>& env = {},
                             const ChildOptions& options = {});
// Reads the child's output until it ends and collects its exit status.
ProcessResult finish_process(RunningProcess& process);

// start_process and finish_process in one.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& argv,
                          const std::string& cwd, const std::vector<std::string>& env = {},
                          const ChildOptions& options = {});

// The built graygif program.
const std::string& program_path();

// Runs graygif, started under the name "graygif", with `args` after it.
ProcessResult run_graygif(const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env = {},
                          const ChildOptions& options = {});

} // namespace graygif::testing
