// POSIX bodies of the platform services.
#include "platform/platform.hpp"

#include "platform/name_rules.hpp"
#include "platform/name_walk.hpp"
#include "platform/temporary_files.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#endif

extern char** environ;

namespace graygif {

namespace {

int descriptor(const FileHandle& file) {
    return static_cast<int>(file.value);
}

// lstat: a symbolic link is an entry of its own, also when it leads nowhere.
bool entry_exists(void*, const std::string& name) {
    struct stat info {};
    return ::lstat(name.c_str(), &info) == 0;
}

void list_folder(void*, const std::string& folder, std::vector<std::string>& entries) {
    DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) return;
    while (const dirent* item = ::readdir(listing)) entries.emplace_back(item->d_name);
    ::closedir(listing);
}

constexpr FolderAccess folders{nullptr, entry_exists, list_folder};

// Owner-only from the start: others may not open the picture before it is complete (and keep it
// open). It takes the result's protection just before it takes the result's name.
CreateResult create_new_file(const std::string& name, FileHandle& file) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? CreateResult::name_taken : CreateResult::failed;
    file.value = fd;
    return CreateResult::created;
}

bool not_supported(int error) {
#if ENOTSUP != EOPNOTSUPP
    if (error == EOPNOTSUPP) return true;
#endif
    return error == ENOTSUP;
}

// strerror_r in either form: the GNU one returns the text, the XSI one fills the buffer.
[[maybe_unused]] const char* error_words(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* error_words(const char* text, const char*) {
    return text;
}

// Puts the system's words for `error` into *reason where one is wanted. @return false.
bool failed_because(std::string* reason, int error) {
    if (reason != nullptr) {
        char buffer[256] = {};
        *reason = error_words(::strerror_r(error, buffer, sizeof buffer), buffer);
    }
    return false;
}

// The folder that holds `path` ("." for a name without one).
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// The process's umask. /proc tells it without changing it; umask() can only be read by setting
// it, and a file another thread created at that moment would get the wrong one.
mode_t process_umask() {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[4096];
        std::size_t size = 0;
        for (ssize_t got = 1; got > 0 && size + 1 < sizeof text;) {
            got = ::read(fd, text + size, sizeof text - 1 - size);
            if (got > 0) size += static_cast<std::size_t>(got);
            if (got < 0 && errno == EINTR) got = 1;
        }
        ::close(fd);
        text[size] = '\0';
        if (const char* line = std::strstr(text, "\nUmask:")) {
            char* end = nullptr;
            const unsigned long mask = std::strtoul(line + 7, &end, 8);
            if (end != line + 7 && mask <= 0777) return static_cast<mode_t>(mask);
        }
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

#if defined(__linux__)

// Access control lists as the kernel hands them over in extended attributes: a 4-byte version,
// then 8-byte entries (tag, permissions, id), every field little-endian.
constexpr char access_list[] = "system.posix_acl_access";
constexpr char default_list[] = "system.posix_acl_default";
constexpr std::size_t list_header = 4;
constexpr std::size_t list_entry = 8;
enum : unsigned { tag_owner = 0x01, tag_owning_group = 0x04, tag_mask = 0x10, tag_others = 0x20 };

// Reads a list of names or a value through `read` (a listxattr or getxattr call with the buffer
// and its size): its size first, then the bytes, again when it grew in between.
template <typename Read> bool read_attribute(Read read, std::string& bytes) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0) return false;
        bytes.resize(static_cast<std::size_t>(size));
        if (size == 0) return true; // a size of 0 would only ask for the size again
        const ssize_t got = read(bytes.data(), bytes.size());
        if (got >= 0) {
            bytes.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

std::vector<std::string> attribute_names(const std::string& list) {
    std::vector<std::string> names;
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = list.find('\0', start);
        const std::size_t stop = end == std::string::npos ? list.size() : end;
        if (stop > start) names.push_back(list.substr(start, stop - start));
        start = stop + 1;
    }
    return names;
}

// What creating a file with `mode` in a folder with the default list `list` gives the file, as
// the kernel makes it: the entries of the owner, of the group class (the mask, or the owning
// group where there is none) and of others keep only the permissions `mode` grants them.
bool apply_create_mode(std::string& list, mode_t mode) {
    if (list.size() < list_header || (list.size() - list_header) % list_entry != 0) return false;
    const auto field = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(list[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(list[at + 1])) << 8;
    };
    bool has_mask = false;
    for (std::size_t at = list_header; at < list.size(); at += list_entry) {
        if (field(at) == tag_mask) has_mask = true;
    }
    const auto mode_bits = static_cast<unsigned>(mode);
    for (std::size_t at = list_header; at < list.size(); at += list_entry) {
        unsigned granted = 7;
        switch (field(at)) {
        case tag_owner:
            granted = (mode_bits >> 6) & 7;
            break;
        case tag_owning_group:
            granted = has_mask ? 7 : (mode_bits >> 3) & 7;
            break;
        case tag_mask:
            granted = (mode_bits >> 3) & 7;
            break;
        case tag_others:
            granted = mode_bits & 7;
            break;
        default:
            break; // named users and groups: the mask limits them
        }
        list[at + 2] = static_cast<char>(field(at + 2) & granted);
        list[at + 3] = 0;
    }
    return true;
}

// Gives the file the extended attributes of `model` that this process may read and set, and
// takes away those the file has and the model lacks (an access list from the folder's default).
// Only the access list must come over: without it the permission bits alone would grant the
// owning group what the list's mask granted.
bool copy_extended_attributes(int fd, const std::string& model) {
    std::string model_list;
    std::string own_list;
    const auto list_model = [&](char* buffer, std::size_t size) {
        return ::listxattr(model.c_str(), buffer, size);
    };
    if (!read_attribute(list_model, model_list)) {
        if (!not_supported(errno)) return false;
        model_list.clear();
    }
    const auto list_own = [&](char* buffer, std::size_t size) {
        return ::flistxattr(fd, buffer, size);
    };
    if (!read_attribute(list_own, own_list)) own_list.clear();
    const std::vector<std::string> names = attribute_names(model_list);
    for (const std::string& name : attribute_names(own_list)) {
        if (std::find(names.begin(), names.end(), name) != names.end()) continue;
        if (::fremovexattr(fd, name.c_str()) != 0 && name == access_list && errno != ENODATA)
            return false;
    }
    for (const std::string& name : names) {
        std::string value;
        const auto get = [&](char* buffer, std::size_t size) {
            return ::getxattr(model.c_str(), name.c_str(), buffer, size);
        };
        const bool copied = read_attribute(get, value) &&
                            ::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0;
        if (!copied && name == access_list) return false;
    }
    return true;
}

#endif

// Async-signal-safe: unlink, sigaction and raise only.
extern "C" void remove_temporary_and_raise(int signal_number) {
    while (const char* name = take_marked_temporary()) ::unlink(name);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(signal_number, &default_action, nullptr);
    ::raise(signal_number); // delivered when the handler returns: the process ends by it
}

// renameat2 with RENAME_NOREPLACE, through syscall() where the C library has no wrapper.
int rename_no_replace(const char* from, const char* to) {
#if defined(RENAME_NOREPLACE)
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1u));
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

// ---- Console ---------------------------------------------------------------------------------

bool console_write(ConsoleStream stream, const char* data, std::size_t size) {
    const int fd = stream == ConsoleStream::out ? STDOUT_FILENO : STDERR_FILENO;
    return file_write_all(FileHandle{fd}, data, size);
}

// ---- Process ---------------------------------------------------------------------------------

ProcessArguments process_arguments(int argc, char** argv) {
    ProcessArguments result;
    for (int i = 0; i < argc; ++i) result.arguments.emplace_back(argv[i]);
    if (result.arguments.empty()) result.arguments.emplace_back("graygif");
    return result;
}

const char* switch_prefix_characters() {
    return "-"; // "/" begins every absolute path here
}

unsigned usable_processors() {
#if defined(__linux__)
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    }
#endif
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

void lower_thread_priority() {
#if defined(__linux__)
    // Linux gives each thread a nice value of its own.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
#endif
}

namespace {

struct ThreadStart {
    void (*run)(void*);
    void* context;
};

extern "C" void* thread_entry(void* start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    std::free(start);
    copy.run(copy.context);
    return nullptr;
}

static_assert(sizeof(pthread_t) <= sizeof(std::uint64_t));

pthread_t to_thread(const ThreadHandle& thread) {
    pthread_t id{};
    std::memcpy(&id, &thread.value, sizeof id);
    return id;
}

} // namespace

bool thread_start(ThreadHandle& thread, void (*run)(void* context), void* context,
                  std::size_t stack_size) {
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    stack_size = std::max(stack_size, static_cast<std::size_t>(PTHREAD_STACK_MIN));
    bool started = ::pthread_attr_setstacksize(&attributes, stack_size) == 0;
    // malloc, not new: a lack of memory here means no thread, not the run's new-handler.
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start != nullptr) *start = ThreadStart{run, context};
    pthread_t id{};
    started =
        started && start != nullptr && ::pthread_create(&id, &attributes, thread_entry, start) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!started) {
        std::free(start);
        return false;
    }
    thread.value = 0;
    std::memcpy(&thread.value, &id, sizeof id);
    thread.started = true;
    return true;
}

void thread_join(ThreadHandle& thread) {
    if (!thread.started) return;
    ::pthread_join(to_thread(thread), nullptr);
    thread.started = false;
}

bool thread_is_current(const ThreadHandle& thread) {
    return thread.started && ::pthread_equal(to_thread(thread), ::pthread_self()) != 0;
}

void exit_immediately(int code) {
    ::_exit(code);
}

void open_missing_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open gives the lowest free number: this one, as the lower ones are open by now.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0) ::close(opened);
    }
}

void ignore_file_size_signal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

void ignore_broken_pipe_signal() {
    ::signal(SIGPIPE, SIG_IGN);
}

void install_interruption_cleanup() {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction previous {};
        if (::sigaction(signal_number, nullptr, &previous) != 0) continue;
        if (previous.sa_handler == SIG_IGN) continue; // e.g. started under nohup: stay so
        struct sigaction action {};
        action.sa_handler = remove_temporary_and_raise;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

// ---- Environment -----------------------------------------------------------------------------

bool environment_lookup(const std::string& name, std::string& value) {
    const char* folded_match = nullptr;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* text = *entry;
        const char* equals = std::strchr(text, '=');
        if (equals == nullptr) continue;
        const auto size = static_cast<std::size_t>(equals - text);
        if (size == name.size() && std::memcmp(text, name.data(), size) == 0) {
            value = equals + 1; // an exact match wins over one that differs in case
            return true;
        }
        if (folded_match == nullptr && equal_ignoring_case({text, size}, name)) {
            folded_match = equals + 1;
        }
    }
    if (folded_match == nullptr) return false;
    value = folded_match;
    return true;
}

// ---- Time ------------------------------------------------------------------------------------

std::int64_t calendar_time_now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool local_time(std::int64_t time, LocalTime& out) {
    const auto seconds = static_cast<std::time_t>(time);
    std::tm parts{};
    if (::localtime_r(&seconds, &parts) == nullptr) return false;
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    out.second = parts.tm_sec;
    return true;
}

std::int64_t monotonic_milliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleep_milliseconds(unsigned milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// ---- Files -----------------------------------------------------------------------------------

OpenResult file_open_read(const std::string& name, FileHandle& file, bool* sequential) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it is known to be wanted.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return OpenResult::not_found;
        if (errno == EACCES || errno == EPERM) return OpenResult::access_denied;
        if (errno == EISDIR) return OpenResult::not_regular;
        return OpenResult::other_error;
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    const bool regular = known && S_ISREG(info.st_mode);
    const bool in_order = known && sequential != nullptr &&
                          (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || ::isatty(fd) == 1);
    if (!regular && !in_order) {
        ::close(fd);
        return OpenResult::not_regular;
    }
    if (in_order && S_ISFIFO(info.st_mode)) {
        // Opened without waiting, a FIFO that no writer has opened yet reads as empty: wait, as
        // `cat` would, until a writer has written or has come and gone.
        pollfd ready{fd, POLLIN, 0};
        while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
        }
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (sequential != nullptr) *sequential = in_order;
    file.value = fd;
    return OpenResult::ok;
}

std::int64_t file_read_next(const FileHandle& file, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(descriptor(file), buffer, size);
        if (got >= 0) return static_cast<std::int64_t>(got);
        if (errno != EINTR) return -1;
    }
}

bool file_is_system_entry(const FileHandle& file, const std::string& name) {
    struct stat info {};
    if (::fstat(descriptor(file), &info) != 0) return false;
    if (!S_ISREG(info.st_mode)) return true; // a device, FIFO or socket
    const std::string folder = folder_of(name);
#if defined(__linux__)
    // The file's own file system, and its folder's: /proc/self/fd/3 leads to a file elsewhere.
    const auto of_kernel = [](const struct statfs& system) {
        return system.f_type == PROC_SUPER_MAGIC || system.f_type == SYSFS_MAGIC;
    };
    struct statfs system {};
    if (::fstatfs(descriptor(file), &system) == 0 && of_kernel(system)) return true;
    if (::statfs(folder.c_str(), &system) == 0 && of_kernel(system)) return true;
#endif
    // The folder itself, not its file system: /dev is often a tmpfs, as /tmp may be.
    struct stat devices {};
    struct stat holder {};
    return ::stat("/dev", &devices) == 0 && ::stat(folder.c_str(), &holder) == 0 &&
           devices.st_dev == holder.st_dev && devices.st_ino == holder.st_ino;
}

std::int64_t file_read_at(const FileHandle& file, std::uint64_t offset, char* buffer,
                          std::size_t size) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    for (;;) {
        const ssize_t got = ::pread(descriptor(file), buffer, size, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<std::int64_t>(got);
        if (errno != EINTR) return -1;
    }
}

bool file_status(const FileHandle& file, FileStatus& status) {
    struct stat info {};
    if (::fstat(descriptor(file), &info) != 0) return false;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                      static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    status.changed = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 +
                     static_cast<std::int64_t>(info.st_ctim.tv_nsec);
    return true;
}

bool file_identity(const FileHandle& file, FileIdentity& identity) {
    struct stat info {};
    if (::fstat(descriptor(file), &info) != 0) return false;
    identity = FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                            static_cast<std::uint64_t>(info.st_ino)};
    return true;
}

bool name_identity(const std::string& name, FileIdentity& identity) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return false;
    identity = FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                            static_cast<std::uint64_t>(info.st_ino)};
    return true;
}

NameKind name_kind(const std::string& name, std::uint64_t* size) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return NameKind::missing;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return NameKind::read_once;
    if (S_ISDIR(info.st_mode)) return NameKind::folder;
    if (!S_ISREG(info.st_mode)) return NameKind::other;
    if (size != nullptr) *size = static_cast<std::uint64_t>(info.st_size);
    return NameKind::regular;
}

bool file_open_append(const std::string& name, FileHandle& file) {
    // O_NONBLOCK: opening a FIFO must not wait for a reader; it is refused below anyway.
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat info {};
    const bool usable = ::fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode));
    const int flags = usable ? ::fcntl(fd, F_GETFL) : -1;
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        ::close(fd);
        return false;
    }
    file.value = fd;
    return true;
}

bool file_write_all(const FileHandle& file, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(descriptor(file), bytes, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            // A stream inherited in non-blocking mode: wait until it takes more.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd ready{descriptor(file), POLLOUT, 0};
                if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
            }
            return false;
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

bool file_close(FileHandle& file) {
    if (!file_is_open(file)) return true;
    const int result = ::close(descriptor(file));
    file.value = -1;
    return result == 0;
}

// ---- Names -----------------------------------------------------------------------------------

bool arguments_use_code_page_437() {
    return false;
}

const char* path_separator_characters() {
    return posix_path_separators;
}

bool resolve_existing_name(const std::string& name, NameIndex& index, std::string& resolved) {
    return walk_existing_name(name, posix_path_separators, folders, index, resolved);
}

void name_index_add(NameIndex& index, const std::string& name) {
    index_new_name(index, name, '/');
}

bool file_create_temporary(const std::string& target, FileHandle& file, std::string& temporary_name,
                           std::string* reason) {
    // errno is the last open's: taking the mark off in between calls nothing.
    return create_temporary_file(target, posix_path_separators,
                                 static_cast<std::uint64_t>(::getpid()), create_new_file, file,
                                 temporary_name) ||
           failed_because(reason, errno);
}

bool replace_file(const std::string& from, const std::string& to, std::string* reason) {
    if (::rename(from.c_str(), to.c_str()) != 0) return failed_because(reason, errno);
    unmark_temporary(from); // after the move: until then an interruption removes it
    return true;
}

bool remove_file(const std::string& name) {
    const bool removed = ::unlink(name.c_str()) == 0;
    unmark_temporary(name);
    return removed;
}

// ---- Results ---------------------------------------------------------------------------------

bool follow_links(const std::string& name, std::string& final_name, std::string* reason) {
    std::string path = name;
    for (int hop = 0; hop < 40; ++hop) { // the kernel's own limit on a chain of links
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) return failed_because(reason, errno);
            final_name = path; // missing: created there
            return true;
        }
        if (!S_ISLNK(info.st_mode)) {
            final_name = path;
            return true;
        }
        // As the kernel does (protected_symlinks): a link that another user left in a shared
        // sticky folder such as /tmp is not followed, or root writing a result there could be
        // sent to any file.
        struct stat holder {};
        if (::stat(folder_of(path).c_str(), &holder) != 0) return failed_because(reason, errno);
        if ((holder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) &&
            info.st_uid != ::geteuid() && info.st_uid != holder.st_uid) {
            return failed_because(reason, EACCES); // what the kernel says
        }
        const std::size_t slash = path.find_last_of('/');
        std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
        const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
        if (size < 0) return failed_because(reason, errno);
        if (size == 0 || static_cast<std::size_t>(size) >= link.size()) {
            return failed_because(reason, EAGAIN); // changed while it was read
        }
        link.resize(static_cast<std::size_t>(size));
        // A relative link is relative to the folder that holds it.
        if (link[0] == '/' || slash == std::string::npos) {
            path = link;
        } else {
            path.resize(slash + 1);
            path += link;
        }
    }
    return failed_because(reason, ELOOP);
}

ExistingFile examine_existing(const std::string& name, std::string* reason) {
    struct stat info {};
    int error = 0;
    if (::stat(name.c_str(), &info) != 0) {
        if (errno == ENOENT) return ExistingFile::missing;
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
    } else if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) {
        // AT_EACCESS: the effective ids decide, as they do when the file is opened.
        error = errno;
    } else {
        return ExistingFile::writable;
    }
    failed_because(reason, error);
    return ExistingFile::unwritable;
}

bool file_copy_protection(const FileHandle& file, const std::string& model, std::string* reason) {
    struct stat info {};
    if (::stat(model.c_str(), &info) != 0) return failed_because(reason, errno);
    const int fd = descriptor(file);
    // Only root may give a file away; an owner may still hand it to a group of their own.
    // First: a change of owner clears the set-id bits and the file's capabilities.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
        // Neither: the file stays the process's own, as a new result would be. No failure.
    }
#if defined(__linux__)
    if (!copy_extended_attributes(fd, model)) return failed_because(reason, errno);
#endif
    // Last, as it sets the set-id bits too; on a file with an access list, the bits of the group
    // class are its mask, as on the model.
    return ::fchmod(fd, info.st_mode & 07777) == 0 || failed_because(reason, errno);
}

bool file_new_protection(const FileHandle& file, const std::string& name, std::string* reason) {
    const int fd = descriptor(file);
#if defined(__linux__)
    // A folder's default access list takes the place of the umask.
    std::string list;
    const std::string folder = folder_of(name);
    const auto get = [&](char* buffer, std::size_t size) {
        return ::getxattr(folder.c_str(), default_list, buffer, size);
    };
    if (read_attribute(get, list)) {
        if (!list.empty()) {
            // A list the kernel would not have made: not one to pass on.
            if (!apply_create_mode(list, 0666)) return failed_because(reason, EINVAL);
            return ::fsetxattr(fd, access_list, list.data(), list.size(), 0) == 0 ||
                   failed_because(reason, errno);
        }
    } else if (errno != ENODATA && !not_supported(errno)) {
        return failed_because(reason, errno);
    }
#else
    (void)name;
#endif
    return ::fchmod(fd, 0666 & ~process_umask()) == 0 || failed_because(reason, errno);
}

bool file_flush_to_disk(const FileHandle& file) {
    return ::fsync(descriptor(file)) == 0;
}

MoveResult move_file_new(const std::string& from, const std::string& to, std::string* reason) {
    const auto failed = [&](int error) {
        failed_because(reason, error);
        return MoveResult::failed;
    };
    if (rename_no_replace(from.c_str(), to.c_str()) == 0) {
        unmark_temporary(from);
        return MoveResult::moved;
    }
    if (errno == EEXIST) return MoveResult::target_exists;
    // Kernels or file systems without it: a hard link does the same in two steps.
    if (errno != EINVAL && errno != ENOSYS && !not_supported(errno)) return failed(errno);
    if (::link(from.c_str(), to.c_str()) == 0) {
        remove_file(from);
        return MoveResult::moved;
    }
    if (errno == EEXIST) return MoveResult::target_exists;
    if (errno != EPERM && !not_supported(errno)) return failed(errno);
    // A file system without hard links (FAT): a check just before the rename is all there is.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return MoveResult::target_exists;
    if (errno != ENOENT) return failed(errno);
    return replace_file(from, to, reason) ? MoveResult::moved : MoveResult::failed;
}

// ---- Directory search ------------------------------------------------------------------------

bool directory_search_first(const std::string& pattern, NameMatcher matcher,
                            DirectorySearch& search, std::string& name) {
    directory_search_close(search);
    const std::size_t cut = after_last_separator(pattern, posix_path_separators);
    std::string directory = pattern.substr(0, cut);
    if (directory.find_first_of("*?") != std::string::npos) return false;
    if (directory.empty()) directory.push_back('.');
    std::string resolved;
    NameIndex index; // one pattern: the folders on its path are listed at most once anyway
    if (!resolve_existing_name(directory, index, resolved)) return false;
    DIR* listing = ::opendir(resolved.c_str());
    if (listing == nullptr) return false;

    search.handle = reinterpret_cast<std::intptr_t>(listing);
    search.last_component = pattern.substr(cut);
    search.matcher = matcher;
    return directory_search_next(search, name);
}

bool directory_search_next(DirectorySearch& search, std::string& name) {
    if (search.handle == -1) return false;
    DIR* listing = reinterpret_cast<DIR*>(search.handle);
    while (const dirent* item = ::readdir(listing)) {
        const std::size_t size = std::strlen(item->d_name);
        if (search.matcher(search.last_component.data(), search.last_component.size(), item->d_name,
                           size)) {
            name.assign(item->d_name, size);
            return true;
        }
    }
    directory_search_close(search);
    return false;
}

void directory_search_close(DirectorySearch& search) {
    if (search.handle == -1) return;
    ::closedir(reinterpret_cast<DIR*>(search.handle));
    search.handle = -1;
}

} // namespace graygif
