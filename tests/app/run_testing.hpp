// Runs the program in this process: start-up, the conversion run and the clean-up over arguments
// as a command line gives them, in a folder, with the console captured and a clock of its own
// that the log's pauses advance (nothing sleeps).
#pragma once

#include "app/program.hpp"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace graygif::testing {

// Called with the standard error of the run so far after each piece of it: a test acts at a
// chosen point of the run.
struct ErrorWatch {
    void (*seen)(void* context, const std::string& err) = nullptr;
    void* context = nullptr;
};

struct InProcessRun {
    int exit_code = -1;
    std::string out;
    std::string err;
    int pauses = 0; // of the log's retries
    ErrorWatch watch;
};

struct FakeTime {
    std::int64_t milliseconds = 0;
    int pauses = 0;
};
inline FakeTime fake_time;

inline std::int64_t fake_clock() {
    return fake_time.milliseconds / 1000;
}

inline void fake_pause(unsigned milliseconds) {
    fake_time.milliseconds += milliseconds;
    ++fake_time.pauses;
}

inline bool capture(void* context, ConsoleStream stream, const char* data, std::size_t size) {
    auto& run = *static_cast<InProcessRun*>(context);
    (stream == ConsoleStream::out ? run.out : run.err).append(data, size);
    if (stream == ConsoleStream::err && run.watch.seen != nullptr)
        run.watch.seen(run.watch.context, run.err);
    return true;
}

// Runs graygif with `args` in `folder`, with the environment entry `variable` ("NAME=value"; none:
// no variable of the program's name). The clock starts at `start` seconds (not a multiple of 19:
// no copyright by chance).
inline InProcessRun run_in_process(const std::vector<std::string>& args, const std::string& folder,
                                   const std::string& variable = {}, std::int64_t start = 1000,
                                   ErrorWatch watch = {}) {
    InProcessRun result;
    result.watch = watch;
    std::vector<std::string> argv{"graygif"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    // Back by descriptor: a run as another user may not walk the path to the test's folder.
    const int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0 || ::chdir(folder.c_str()) != 0) return result;
    // The caller's own variables of the program's name (in any letter case) stay out of the run,
    // as they do for a child given plain_env.
    std::vector<std::pair<std::string, std::string>> hidden;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t at = text.find('=');
        if (::strcasecmp(text.substr(0, at).c_str(), "graygif") == 0)
            hidden.emplace_back(text.substr(0, at), text.substr(at + 1));
    }
    for (const auto& [key, value] : hidden) ::unsetenv(key.c_str());
    const std::size_t equals = variable.find('=');
    const std::string name = variable.substr(0, equals);
    if (!name.empty()) ::setenv(name.c_str(), variable.c_str() + equals + 1, 1);
    fake_time = FakeTime{start * 1000, 0};
    RunState run;
    run.console.writer = ConsoleWriter{&result, capture};
    run.clock = fake_clock;
    run.pause = fake_pause;
    take_arguments(run, static_cast<int>(pointers.size()), pointers.data());
    result.exit_code = run_program(run);
    result.pauses = fake_time.pauses;
    if (!name.empty()) ::unsetenv(name.c_str());
    for (const auto& [key, value] : hidden) ::setenv(key.c_str(), value.c_str(), 1);
    if (::fchdir(here) != 0) result.exit_code = -1;
    ::close(here);
    return result;
}

} // namespace graygif::testing
