// Every operating-system service the program uses, behind one declaration each.
// posix.cpp and win32.cpp hold one body per platform; nothing else includes OS headers.
#pragma once
#ifndef GRAYGIF_LAYER_PLATFORM
#error "this target may not use src/platform (see the layers in the top CMakeLists.txt)"
#endif

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace graygif {

// ---- Console ---------------------------------------------------------------------------------

enum class ConsoleStream { out, err };

// Writes all bytes to standard output or standard error, unbuffered, retrying short writes.
// @return true when every byte was written.
bool console_write(ConsoleStream stream, const char* data, std::size_t size);

// ---- Process ---------------------------------------------------------------------------------

// The program's arguments as the platform hands them over: on POSIX argv as given; on Windows the
// raw command line (GetCommandLineA, or the program's own path when that is empty).
struct ProcessArguments {
    bool raw_command_line = false; // true: `command_line` holds one text to be split
    std::string command_line;
    std::vector<std::string> arguments; // already split (POSIX)
};
ProcessArguments process_arguments(int argc, char** argv);

// The characters that begin a switch argument: "-" on POSIX, where "/" begins absolute paths;
// "-" and "/" on Windows.
const char* switch_prefix_characters();

// The number of processors this process may run on (its affinity respected), at least 1.
unsigned usable_processors();

// Makes the calling thread give way to the process's other threads when they compete for a
// processor (a worker thread, so that the thread it feeds keeps pace). Where the system has no
// such priority for threads, nothing changes.
void lower_thread_priority();

// A thread started by thread_start.
struct ThreadHandle {
    std::uint64_t value = 0; // pthread_t or HANDLE
    bool started = false;
};

// Starts `run(context)` on a new thread with a stack of `stack_size` bytes (the system's default
// is megabytes, which a process under a limit on its address space may not have for many
// threads). @return false when the system gives no thread.
bool thread_start(ThreadHandle& thread, void (*run)(void* context), void* context,
                  std::size_t stack_size);

// Waits for the thread to end. Never called on the thread itself.
void thread_join(ThreadHandle& thread);

// @return whether `thread` is the calling thread.
bool thread_is_current(const ThreadHandle& thread);

// Ends the process with `code` at once: no exit handlers, no buffered output.
[[noreturn]] void exit_immediately(int code);

// Opens the null device on any of standard input, output and error that the process was started
// without, so that no data or result file is later given their numbers and receives console
// output by mistake (POSIX; Windows: nothing to do).
void open_missing_standard_streams();

// Makes a write beyond the process's file-size limit fail with an error that the writer reports,
// instead of ending the process (POSIX: SIGXFSZ ignored). Windows has no such signal: no-op.
void ignore_file_size_signal();

// Makes a write to a pipe whose reader has gone fail with an error that the console output takes
// as the end of that stream, instead of ending the process (POSIX: SIGPIPE ignored). Windows has
// no such signal: no-op.
void ignore_broken_pipe_signal();

// From now on an interruption (POSIX: SIGINT, SIGTERM, SIGHUP, SIGQUIT, unless ignored when the
// process started) first removes the temporary files of file_create_temporary that are still being
// written, then ends the process as the interruption would have (SIGQUIT: with its core dump).
// Windows: Ctrl+C, Ctrl+Break and closing the console, through a console control handler.
void install_interruption_cleanup();

// ---- Environment -----------------------------------------------------------------------------

// Looks up the environment variable `name`, names compared without regard to ASCII case.
// @return true and the value when the variable is set.
bool environment_lookup(const std::string& name, std::string& value);

// ---- Time ------------------------------------------------------------------------------------

// Calendar time in whole seconds.
std::int64_t calendar_time_now();

struct LocalTime {
    int year = 0;   // e.g. 2026
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..60
};
// @return true when `time` could be broken down into the local date and time.
bool local_time(std::int64_t time, LocalTime& out);

// A clock for intervals, in milliseconds; never goes back.
std::int64_t monotonic_milliseconds();

void sleep_milliseconds(unsigned milliseconds);

// ---- Files -----------------------------------------------------------------------------------

// An open file; `value` is the platform's descriptor or handle, -1 when closed.
struct FileHandle {
    std::intptr_t value = -1;
};
inline bool file_is_open(const FileHandle& file) {
    return file.value != -1;
}

enum class OpenResult {
    ok,
    not_found,     // no such file (or a directory part is missing)
    not_regular,   // a directory, FIFO, device or other non-regular file
    access_denied, // exists but may not be read
    other_error,
};

// Opens an existing file for reading under exactly this name (see resolve_existing_name): a
// regular file, or, where `sequential` is given, also an input that can be read only once, in
// order (a pipe or FIFO, a terminal), which *sequential then tells. A FIFO is waited on until a
// writer opens it; a directory or another device is refused (not_regular) without waiting.
OpenResult file_open_read(const std::string& name, FileHandle& file, bool* sequential = nullptr);

// Reads up to `size` bytes from where the last read ended (an input that is read in order).
// @return the count read, 0 at the end, -1 on an error.
std::int64_t file_read_next(const FileHandle& file, char* buffer, std::size_t size);

// Whether the open data file `file`, found under `name`, is one of the system's entries rather
// than a file of the user's, so that no result may be written beside it: a device, pipe or
// socket; a file of the kernel's own file systems, however it is named (Linux: procfs, sysfs,
// also as ../../proc/uptime); or a name in the folder /dev that leads to a regular file
// elsewhere (/dev/stdin redirected from a file). Windows: anything but a disk file.
bool file_is_system_entry(const FileHandle& file, const std::string& name);

// Reads up to `size` bytes from `offset` bytes into the file. Several threads may read one file
// at once: no read depends on where another one ended. @return the count read, 0 at the end of
// the file, -1 on an error.
std::int64_t file_read_at(const FileHandle& file, std::uint64_t offset, char* buffer,
                          std::size_t size);

// What tells one version of a file from another: its size, its last modification time and the
// time its content or attributes last changed (POSIX ctime: a rewrite that restores the
// modification time still moves it), in the platform's own units.
struct FileStatus {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    bool operator==(const FileStatus&) const = default;
};

// @return true and the status of the open file.
bool file_status(const FileHandle& file, FileStatus& status);

// What tells one file from another, however it is named: POSIX device and inode; Windows volume
// serial number and file index.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

// @return true and the identity of the open file.
bool file_identity(const FileHandle& file, FileIdentity& identity);

// @return true and the identity of the file `name` leads to (links followed).
bool name_identity(const std::string& name, FileIdentity& identity);

enum class NameKind {
    missing,   // nothing there, or nothing that can be looked at
    regular,   // a regular file
    read_once, // an input that can be read only once, in order: a FIFO, a socket
    folder,    // a directory
    other,     // a device
};

// What `name` leads to (links followed), found without opening it, and the size of a regular
// file where `size` is given.
NameKind name_kind(const std::string& name, std::uint64_t* size = nullptr);

// Opens a file for appending, creating it when missing. Every file_write_all on it lands at the
// current end of the file in one piece, also when other processes append at the same time.
// Only a regular file or a character device is taken: a FIFO or pipe is refused, without waiting
// for a reader, as writing to it could hold the run forever.
bool file_open_append(const std::string& name, FileHandle& file);

// Writes all bytes, retrying short writes. @return true when every byte was written.
bool file_write_all(const FileHandle& file, const void* data, std::size_t size);

// Closes the file if open and marks the handle closed. @return false when closing reported an
// error (buffered data may be lost).
bool file_close(FileHandle& file);

// ---- Names -----------------------------------------------------------------------------------

// Where a call below takes `reason` and fails, it puts there why, as the system words it
// ("Permission denied": strerror on POSIX, FormatMessage on Windows, without a closing full stop).

// Whether the three code-page-437 letters (0x84, 0x86, 0x94) are letters of the arguments'
// encoding: on Windows when the ANSI code page is 437. POSIX arguments are UTF-8 or another
// encoding whose bytes of 0x80 and above must stay as they are.
bool arguments_use_code_page_437();

// The characters that separate the folders of a name, wherever names are cut (data file names,
// wildcard patterns, result names): '/' on POSIX, where '\' and ':' are parts of names; '\', '/'
// and ':' (a drive) on Windows.
const char* path_separator_characters();

// The folders a run has listed, each as an index of its entries by name folded to ASCII lower
// case, so that a run over many files lists a folder once, not once per name.
struct NameIndex {
    // folder (as resolve_existing_name builds it) -> folded entry name -> entry name
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> folders;
};

// Resolves `name` component by component (at path_separator_characters): each component exactly
// as typed first, else the entry equal to it without regard to ASCII case (the smallest by byte
// order when several are, so that the choice never depends on listing order), found in `index`,
// which lists a folder the first time it is needed. A symbolic link is an entry of its own, also
// when it leads nowhere. Where names are matched without regard to case natively, the name is
// returned unchanged. @return true and the resolved name when an entry of that name exists.
bool resolve_existing_name(const std::string& name, NameIndex& index, std::string& resolved);

// Makes a file the run created (under a name resolve_existing_name built) known to `index`.
void name_index_add(NameIndex& index, const std::string& name);

// Creates a new, empty file in the directory of `target` under a name no other file has, for a
// result that replace_file later moves over `target`; only its owner may open it (POSIX: mode
// 0600; Windows: an access list of the process's user alone) until file_copy_protection or
// file_new_protection gives it the result's protection. @return true with the file open for
// writing and its name in `temporary_name`. Until replace_file or remove_file is called with that
// name, an interruption removes the file (see install_interruption_cleanup).
bool file_create_temporary(const std::string& target, FileHandle& file, std::string& temporary_name,
                           std::string* reason = nullptr);

// Moves `from` over `to` in one step, replacing an existing `to`. @return true on success.
bool replace_file(const std::string& from, const std::string& to, std::string* reason = nullptr);

// @return true when the file was removed.
bool remove_file(const std::string& name);

// ---- Results ---------------------------------------------------------------------------------

// Follows `name` through a chain of symbolic links (POSIX) or reparse points (Windows) to the
// entry it ends at; a name that is no link comes back unchanged. The entry at the end may be
// missing (a dangling link on POSIX). @return false when the chain cannot be followed: a loop,
// an unreadable link, or on Windows a link whose target is missing.
bool follow_links(const std::string& name, std::string& final_name, std::string* reason = nullptr);

enum class ExistingFile {
    missing,    // nothing of that name
    writable,   // a regular file that this process may open for writing
    unwritable, // anything else: no write permission, read-only, not a regular file, unknown
};

// Looks at `name` as opening it for writing would: with the effective ids and access control
// lists (POSIX; root may write anything), or the read-only attribute and the access control list
// (Windows). Links are followed. An unwritable file's `reason` says why (a directory, no write
// permission).
ExistingFile examine_existing(const std::string& name, std::string* reason = nullptr);

// Gives the open file `file` the protection of the existing file `model`, which it is to replace:
// POSIX: its permission bits, its access control list and the other extended attributes this
// process may read and set (Linux), and its owner and group where the process may set them;
// Windows: its explicit access control entries. @return false when the permissions or the access
// control list could not be carried over (a failure to change the owner or group, or to set
// another attribute, is no failure).
bool file_copy_protection(const FileHandle& file, const std::string& model,
                          std::string* reason = nullptr);

// Gives the open file `file`, named `name`, the protection that creating it under that name
// would have given: POSIX: what open() with mode 0666 gives, the folder's default access control
// list (Linux) or else the umask deciding; Windows: the entries its folder passes on.
// @return false when it could not be given.
bool file_new_protection(const FileHandle& file, const std::string& name,
                         std::string* reason = nullptr);

// Writes the file's content through to the disk. @return true on success.
bool file_flush_to_disk(const FileHandle& file);

enum class MoveResult {
    moved,
    target_exists, // something named `to` exists: nothing was moved
    failed,
};

// Moves `from` to `to` in one step only when nothing named `to` exists, not even a dangling link.
// POSIX: renameat2 with RENAME_NOREPLACE, else link + unlink; Windows: MoveFileExA without
// MOVEFILE_REPLACE_EXISTING.
MoveResult move_file_new(const std::string& from, const std::string& to,
                         std::string* reason = nullptr);

// ---- Directory search ------------------------------------------------------------------------

// Matches one directory entry name against the last component of a search pattern.
using NameMatcher = bool (*)(const char* pattern, std::size_t pattern_size, const char* name,
                             std::size_t name_size);

// One directory search; at most one is open at a time.
struct DirectorySearch {
    std::intptr_t handle = -1;
    std::string last_component; // the pattern's last component (POSIX matching)
    NameMatcher matcher = nullptr;
};

// Starts a search for the entries matching `pattern` (a directory part up to its last of
// path_separator_characters, and a last component with * and ?). On POSIX, `matcher` decides on
// each entry of the listed directory; on Windows the system matches. @return true and the first
// name when something matches; false leaves no search open.
bool directory_search_first(const std::string& pattern, NameMatcher matcher,
                            DirectorySearch& search, std::string& name);

// @return true and the next name of the open search; false at the end, which closes it.
bool directory_search_next(DirectorySearch& search, std::string& name);

void directory_search_close(DirectorySearch& search);

} // namespace graygif
