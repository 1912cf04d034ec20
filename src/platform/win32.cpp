// Windows bodies of the platform services (Win32 API, ANSI code page names).
#include "platform/platform.hpp"

#include "platform/name_rules.hpp"
#include "platform/temporary_files.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // the C++ library may have set it already
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace graygif {

namespace {

// FileHandle and DirectorySearch keep -1 as their closed marker. That is INVALID_HANDLE_VALUE,
// which CreateFileA and FindFirstFileA return only on failure, so no open handle collides.
HANDLE to_handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::intptr_t from_handle(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// Consoles have refused single writes of more than about 64 KiB; files take larger pieces.
constexpr DWORD console_piece = 32 * 1024;
constexpr DWORD file_piece = 1024 * 1024;

bool write_all(HANDLE handle, const void* data, std::size_t size, DWORD piece) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD wanted = size < piece ? static_cast<DWORD>(size) : piece;
        DWORD done = 0;
        if (!::WriteFile(handle, bytes, wanted, &done, nullptr) || done == 0) return false;
        bytes += done;
        size -= done;
    }
    return true;
}

// The directory part of `name`: everything up to its last '\', '/' or ':' (empty when none).
std::string directory_part(const std::string& name) {
    return name.substr(0, after_last_separator(name, windows_path_separators));
}

OpenResult open_result_for(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
        return OpenResult::not_found;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return OpenResult::access_denied;
    default:
        return OpenResult::other_error;
    }
}

// Puts the system's words for `error` into *reason where one is wanted, without the line end
// and full stop they end with. @return false.
bool failed_because(std::string* reason, DWORD error) {
    if (reason == nullptr) return false;
    char* text = nullptr;
    const DWORD size = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (size != 0 && text != nullptr) {
        reason->assign(text, size);
    } else {
        *reason = "Error " + std::to_string(error);
    }
    if (text != nullptr) ::LocalFree(text);
    while (!reason->empty() && std::strchr("\r\n. ", reason->back()) != nullptr) reason->pop_back();
    return false;
}

// Seconds between 1601-01-01 (FILETIME's start) and 1970-01-01, and FILETIME ticks per second.
constexpr std::int64_t epoch_difference = 11644473600;
constexpr std::int64_t ticks_per_second = 10000000;

// Ctrl+C, Ctrl+Break, closing the console: the file still open for writing was opened with
// FILE_SHARE_DELETE, so it goes away when the process ends; the next handler then ends it.
BOOL WINAPI remove_temporary_on_interruption(DWORD) {
    while (const char* name = take_marked_temporary()) ::DeleteFileA(name);
    return FALSE;
}

// Whose alone a new temporary file is: the process's user, with an access list that inherits
// nothing from the folder. @return false when the process's user cannot be known.
struct PrivateAccess {
    alignas(void*) char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    alignas(void*) char list[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

bool make_private_access(PrivateAccess& access) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    const bool known =
        ::GetTokenInformation(token, TokenUser, access.user, sizeof access.user, &size) != 0;
    ::CloseHandle(token);
    if (!known) return false;
    const PSID user = reinterpret_cast<TOKEN_USER*>(access.user)->User.Sid;
    const auto list = reinterpret_cast<PACL>(access.list);
    access.attributes = SECURITY_ATTRIBUTES{sizeof access.attributes, &access.descriptor, FALSE};
    return ::InitializeAcl(list, sizeof access.list, ACL_REVISION) &&
           ::AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, user) &&
           ::InitializeSecurityDescriptor(&access.descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorDacl(&access.descriptor, TRUE, list, FALSE) &&
           ::SetSecurityDescriptorControl(&access.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// Private from the start: others may not open the picture before it is complete (and keep it
// open). It takes the result's protection just before it takes the result's name.
CreateResult create_new_file(const std::string& name, FileHandle& file) {
    PrivateAccess access;
    if (!make_private_access(access)) return CreateResult::failed;
    // WRITE_DAC: the result's protection is set through this handle.
    const HANDLE handle =
        ::CreateFileA(name.c_str(), GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      &access.attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? CreateResult::name_taken
                   : CreateResult::failed;
    }
    file.value = from_handle(handle);
    return CreateResult::created;
}

} // namespace

// ---- Console ---------------------------------------------------------------------------------

bool console_write(ConsoleStream stream, const char* data, std::size_t size) {
    const HANDLE handle =
        ::GetStdHandle(stream == ConsoleStream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    return write_all(handle, data, size, console_piece);
}

// ---- Process ---------------------------------------------------------------------------------

ProcessArguments process_arguments(int argc, char** argv) {
    (void)argc;
    (void)argv; // the C runtime's split differs from ours: the raw command line is split instead
    ProcessArguments result;
    result.raw_command_line = true;
    const char* line = ::GetCommandLineA();
    if (line != nullptr && *line != '\0') {
        result.command_line = line;
        return result;
    }
    // No command line: the program's own path stands in, quoted so that a blank in it does not
    // cut the program name short.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD size =
            ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size < path.size()) {
            path.resize(size);
            break;
        }
        path.resize(path.size() * 2); // truncated: try again with more room
    }
    result.command_line = "\"" + path + "\"";
    return result;
}

const char* switch_prefix_characters() {
    return "-/";
}

unsigned usable_processors() {
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) &&
        process_mask != 0) {
        unsigned count = 0;
        for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
        return count;
    }
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

void lower_thread_priority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

namespace {

struct ThreadStart {
    void (*run)(void*);
    void* context;
};

DWORD WINAPI thread_entry(LPVOID start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    std::free(start);
    copy.run(copy.context);
    return 0;
}

} // namespace

bool thread_start(ThreadHandle& thread, void (*run)(void* context), void* context,
                  std::size_t stack_size) {
    // malloc, not new: a lack of memory here means no thread, not the run's new-handler.
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start != nullptr) *start = ThreadStart{run, context};
    if (start == nullptr) return false;
    // The size reserves the stack's address space; only what the thread touches is committed.
    const HANDLE handle = ::CreateThread(nullptr, stack_size, thread_entry, start,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == nullptr) {
        std::free(start);
        return false;
    }
    thread.value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
    thread.started = true;
    return true;
}

void thread_join(ThreadHandle& thread) {
    if (!thread.started) return;
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(thread.value));
    ::WaitForSingleObject(handle, INFINITE);
    ::CloseHandle(handle);
    thread.started = false;
}

bool thread_is_current(const ThreadHandle& thread) {
    if (!thread.started) return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(thread.value));
    return ::GetThreadId(handle) == ::GetCurrentThreadId();
}

void exit_immediately(int code) {
    // TerminateProcess runs no exit handlers and notifies no DLL (ExitProcess would let the C
    // runtime DLL run its exit table). Called on the own process it does not return.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    ::ExitProcess(static_cast<UINT>(code));
}

void open_missing_standard_streams() {} // handles are not numbered in order there

void ignore_file_size_signal() {} // no such signal on Windows

void ignore_broken_pipe_signal() {} // a write to a closed pipe fails with ERROR_NO_DATA

void install_interruption_cleanup() {
    ::SetConsoleCtrlHandler(remove_temporary_on_interruption, TRUE);
}

// ---- Environment -----------------------------------------------------------------------------

bool environment_lookup(const std::string& name, std::string& value) {
    if (name.empty()) return false;
    std::string buffer(256, '\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD size = ::GetEnvironmentVariableA(name.c_str(), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
        if (size == 0) {
            // Zero is both "not set" and "set to an empty text"; the error code tells them apart.
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value.clear();
            return true;
        }
        if (size < buffer.size()) {
            value.assign(buffer.data(), size);
            return true;
        }
        buffer.resize(size); // too small: `size` is the room needed, terminator included
    }
}

// ---- Time ------------------------------------------------------------------------------------

std::int64_t calendar_time_now() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return ticks / ticks_per_second - epoch_difference;
}

bool local_time(std::int64_t time, LocalTime& out) {
    constexpr std::int64_t latest = std::numeric_limits<std::int64_t>::max() / ticks_per_second;
    if (time < -epoch_difference || time > latest - epoch_difference) return false;
    const auto ticks = static_cast<std::uint64_t>((time + epoch_difference) * ticks_per_second);
    FILETIME file_time{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    // The time zone's rule for that date decides on daylight saving, not today's.
    if (!::FileTimeToSystemTime(&file_time, &universal)) return false;
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return false;
    out.year = local.wYear;
    out.month = local.wMonth;
    out.day = local.wDay;
    out.hour = local.wHour;
    out.minute = local.wMinute;
    out.second = local.wSecond;
    return true;
}

std::int64_t monotonic_milliseconds() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

void sleep_milliseconds(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

// ---- Files -----------------------------------------------------------------------------------

OpenResult file_open_read(const std::string& name, FileHandle& file, bool* sequential) {
    if (name.empty()) return OpenResult::not_found;
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return open_result_for(::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return OpenResult::not_regular;
    const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return open_result_for(::GetLastError());
    // Disk files, and where asked for, named pipes and the console (CONIN$) read in order; other
    // devices (NUL, COM1, ...) are refused.
    const DWORD type = ::GetFileType(handle);
    const bool in_order =
        sequential != nullptr &&
        (type == FILE_TYPE_PIPE || (type == FILE_TYPE_CHAR && equal_ignoring_case(name, "CONIN$")));
    if (type != FILE_TYPE_DISK && !in_order) {
        ::CloseHandle(handle);
        return OpenResult::not_regular;
    }
    if (sequential != nullptr) *sequential = in_order;
    file.value = from_handle(handle);
    return OpenResult::ok;
}

std::int64_t file_read_next(const FileHandle& file, char* buffer, std::size_t size) {
    const DWORD wanted = size < file_piece ? static_cast<DWORD>(size) : file_piece;
    DWORD got = 0;
    if (!::ReadFile(to_handle(file.value), buffer, wanted, &got, nullptr)) {
        // A pipe whose writer has gone has ended.
        const DWORD error = ::GetLastError();
        return error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::int64_t>(got);
}

// Devices have names of their own (CONIN$, \\.\pipe\...), not a folder of the system's.
bool file_is_system_entry(const FileHandle& file, const std::string&) {
    return ::GetFileType(to_handle(file.value)) != FILE_TYPE_DISK;
}

std::int64_t file_read_at(const FileHandle& file, std::uint64_t offset, char* buffer,
                          std::size_t size) {
    const DWORD wanted = size < file_piece ? static_cast<DWORD>(size) : file_piece;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(to_handle(file.value), buffer, wanted, &got, &at)) {
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::int64_t>(got);
}

bool file_status(const FileHandle& file, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(to_handle(file.value), &information)) return false;
    status.size =
        (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    status.modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
        information.ftLastWriteTime.dwLowDateTime);
    // The change time moves also when a rewrite restores the write time.
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(to_handle(file.value), FileBasicInfo, &basic,
                                       sizeof basic)) {
        status.changed = basic.ChangeTime.QuadPart;
    }
    return true;
}

namespace {

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& information) {
    return FileIdentity{information.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) |
                            information.nFileIndexLow};
}

} // namespace

bool file_identity(const FileHandle& file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(to_handle(file.value), &information)) return false;
    identity = identity_of(information);
    return true;
}

bool name_identity(const std::string& name, FileIdentity& identity) {
    // No access asked for: the identity of a file that may not be read is still known.
    // FILE_FLAG_BACKUP_SEMANTICS opens folders too.
    const HANDLE handle =
        ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(handle, &information) != 0;
    ::CloseHandle(handle);
    if (known) identity = identity_of(information);
    return known;
}

NameKind name_kind(const std::string& name, std::uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) == 0) {
        return NameKind::missing;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) return NameKind::other;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return NameKind::folder;
    if (size != nullptr) {
        *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return NameKind::regular;
}

bool file_open_append(const std::string& name, FileHandle& file) {
    // Append access without write access: the system puts every write at the current end of
    // the file, in one piece, whoever else appends.
    const HANDLE handle = ::CreateFileA(name.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // A pipe could hold the run forever; disk files and devices such as NUL are taken.
    const DWORD type = ::GetFileType(handle);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_CHAR) {
        ::CloseHandle(handle);
        return false;
    }
    file.value = from_handle(handle);
    return true;
}

bool file_write_all(const FileHandle& file, const void* data, std::size_t size) {
    return write_all(to_handle(file.value), data, size, file_piece);
}

bool file_close(FileHandle& file) {
    if (!file_is_open(file)) return true;
    const BOOL closed = ::CloseHandle(to_handle(file.value));
    file.value = -1;
    return closed != 0;
}

// ---- Names -----------------------------------------------------------------------------------

bool arguments_use_code_page_437() {
    return ::GetACP() == 437;
}

const char* path_separator_characters() {
    return windows_path_separators;
}

// The file system matches names without regard to case: names need no resolving.
bool resolve_existing_name(const std::string& name, NameIndex& index, std::string& resolved) {
    (void)index;
    if (name.empty() || ::GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    resolved = name;
    return true;
}

void name_index_add(NameIndex& index, const std::string& name) {
    (void)index;
    (void)name;
}

bool file_create_temporary(const std::string& target, FileHandle& file, std::string& temporary_name,
                           std::string* reason) {
    // The last error is the last creation's: taking the mark off in between calls nothing.
    return create_temporary_file(target, windows_path_separators, ::GetCurrentProcessId(),
                                 create_new_file, file, temporary_name) ||
           failed_because(reason, ::GetLastError());
}

bool replace_file(const std::string& from, const std::string& to, std::string* reason) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        return failed_because(reason, ::GetLastError());
    }
    unmark_temporary(from);
    return true;
}

bool remove_file(const std::string& name) {
    // Unmarked only once it is gone: Ctrl+C in between still finds it to remove.
    const bool removed = ::DeleteFileA(name.c_str()) != 0;
    unmark_temporary(name);
    return removed;
}

// ---- Results ---------------------------------------------------------------------------------

bool follow_links(const std::string& name, std::string& final_name, std::string* reason) {
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        final_name = name;
        return true;
    }
    // Opening follows the whole chain; the handle tells where it ended. A link whose target is
    // missing cannot be opened, and its reparse data is not read: it is refused.
    const HANDLE handle =
        ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed_because(reason, ::GetLastError());
    std::string path(MAX_PATH, '\0');
    DWORD size = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        size = ::GetFinalPathNameByHandleA(handle, path.data(), static_cast<DWORD>(path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (size < path.size()) break;
        path.resize(size); // too small: `size` is the room needed
    }
    const DWORD error = size == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    ::CloseHandle(handle);
    if (size == 0 || size >= path.size()) return failed_because(reason, error);
    path.resize(size);
    // "\\?\C:\x" and "\\?\UNC\server\x": the plain forms, as the ANSI functions take them.
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        path = "\\\\" + path.substr(8);
    } else if (path.rfind("\\\\?\\", 0) == 0) {
        path.erase(0, 4);
    }
    final_name = path;
    return true;
}

ExistingFile examine_existing(const std::string& name, std::string* reason) {
    const auto unwritable = [&](DWORD error) {
        failed_because(reason, error);
        return ExistingFile::unwritable;
    };
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ExistingFile::missing
                   : unwritable(error);
    }
    // What opening it for writing would say.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return unwritable(ERROR_ACCESS_DENIED);
    }
    // Opening it for writing (nothing is written) decides on its access list, and on files that
    // others hold open without sharing.
    const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return unwritable(::GetLastError());
    const bool disk_file = ::GetFileType(handle) == FILE_TYPE_DISK;
    ::CloseHandle(handle);
    return disk_file ? ExistingFile::writable : unwritable(ERROR_FILE_EXISTS);
}

bool file_copy_protection(const FileHandle& file, const std::string& model, std::string* reason) {
    PACL access_list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD got =
        ::GetNamedSecurityInfoA(model.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &access_list, nullptr, &descriptor);
    if (got != ERROR_SUCCESS) return failed_because(reason, got);
    // The entries the old result inherited come from the same folder: a list open to inheritance
    // gets them from there, with the old result's own entries. A list that is shut off from
    // inheriting, or inherited nothing, is set exactly as it is (SetSecurityInfo would add what
    // the folder passes on under Wine, which keeps no inheritance and reports every list so).
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    bool inherited = false;
    for (DWORD i = 0; access_list != nullptr && i < access_list->AceCount; ++i) {
        void* entry = nullptr;
        if (::GetAce(access_list, i, &entry) &&
            (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) != 0)
            inherited = true;
    }
    DWORD set = ERROR_SUCCESS;
    if ((control & SE_DACL_PROTECTED) == 0 && inherited) {
        set = ::SetSecurityInfo(to_handle(file.value), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, access_list, nullptr);
    } else if (!::SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
               !::SetKernelObjectSecurity(to_handle(file.value), DACL_SECURITY_INFORMATION,
                                          descriptor)) {
        set = ::GetLastError();
    }
    ::LocalFree(descriptor);
    return set == ERROR_SUCCESS || failed_because(reason, set);
}

bool file_new_protection(const FileHandle& file, const std::string& name, std::string* reason) {
    (void)file;
    // An empty list open to inheritance: the system fills it with what the folder passes on, as
    // for a file created there. By name, so that the system knows the folder.
    ACL empty{};
    if (!::InitializeAcl(&empty, sizeof empty, ACL_REVISION)) {
        return failed_because(reason, ::GetLastError());
    }
    std::string path = name;
    const DWORD set =
        ::SetNamedSecurityInfoA(path.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &empty, nullptr);
    return set == ERROR_SUCCESS || failed_because(reason, set);
}

bool file_flush_to_disk(const FileHandle& file) {
    return ::FlushFileBuffers(to_handle(file.value)) != 0;
}

MoveResult move_file_new(const std::string& from, const std::string& to, std::string* reason) {
    if (::MoveFileExA(from.c_str(), to.c_str(), 0) != 0) {
        unmark_temporary(from);
        return MoveResult::moved;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return MoveResult::target_exists;
    failed_because(reason, error);
    return MoveResult::failed;
}

// ---- Directory search ------------------------------------------------------------------------

bool directory_search_first(const std::string& pattern, NameMatcher matcher,
                            DirectorySearch& search, std::string& name) {
    (void)matcher; // the system matches the pattern itself
    directory_search_close(search);
    if (directory_part(pattern).find_first_of("*?") != std::string::npos) return false;
    WIN32_FIND_DATAA entry{};
    const HANDLE handle = ::FindFirstFileA(pattern.c_str(), &entry);
    if (handle == INVALID_HANDLE_VALUE) return false;
    search.handle = from_handle(handle);
    search.last_component = pattern.substr(directory_part(pattern).size());
    name = entry.cFileName; // the full name, never cAlternateFileName
    return true;
}

bool directory_search_next(DirectorySearch& search, std::string& name) {
    if (search.handle == -1) return false;
    WIN32_FIND_DATAA entry{};
    if (!::FindNextFileA(to_handle(search.handle), &entry)) {
        directory_search_close(search);
        return false;
    }
    name = entry.cFileName;
    return true;
}

void directory_search_close(DirectorySearch& search) {
    if (search.handle == -1) return;
    ::FindClose(to_handle(search.handle));
    search.handle = -1;
}

} // namespace graygif
