// What the POSIX and the Windows bodies share about temporary result files: their names and the
// one file an interruption removes. Used by the platform bodies only.
#pragma once
#ifndef GRAYGIF_LAYER_PLATFORM
#error "this target may not use src/platform (see the layers in the top CMakeLists.txt)"
#endif

#include "platform/platform.hpp"

#include <cstdint>
#include <string>

namespace graygif {

// The usual limit on the bytes of one name in a folder (NAME_MAX; 255 UTF-16 units on Windows).
inline constexpr std::size_t longest_name = 255;

// ".<target's own name>.<process id>-<counter>.tmp" in the target's folder (the part of `target`
// up to its last of `separators`): hidden, this process's own, and within longest_name however
// long the target's name is (that name is cut to fit).
std::string temporary_name_for(const std::string& target, const char* separators,
                               std::uint64_t process_id, unsigned counter);

enum class CreateResult { created, name_taken, failed };

// A platform body's creation of a new file under exactly `name`, open for writing in `file`.
using CreateNewFile = CreateResult (*)(const std::string& name, FileHandle& file);

// file_create_temporary over the body's `create_new`: the temporary names of `target` (see
// temporary_name_for), one after another while the name is taken, each marked before it is
// created. @return true with the file open and its name in `temporary_name`.
bool create_temporary_file(const std::string& target, const char* separators,
                           std::uint64_t process_id, CreateNewFile create_new, FileHandle& file,
                           std::string& temporary_name);

// Temporary files guarded at once: a picture's and the run's animation.
inline constexpr int max_marked_temporaries = 2;

// Marks `name` as a temporary file that an interruption removes (at most
// max_marked_temporaries at a time; one more takes the place of the first).
// Marked before the file is created: an interruption in between removes nothing else, as the
// name is this process's own.
void mark_temporary(const std::string& name);

// Takes the mark off, when `name` is the marked file.
void unmark_temporary(const std::string& name);

// For the interruption handler (a signal handler on POSIX, a console control handler thread on
// Windows): takes a mark and @return its name, or nullptr when none is left; called until then.
// Async-signal-safe.
const char* take_marked_temporary();

} // namespace graygif
