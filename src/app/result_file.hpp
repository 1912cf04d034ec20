// Result files: their names, the policy on results that exist, and their writing: the picture goes
// into a temporary file beside the result, which takes the result's place only when it is
// complete, so that no failure leaves half a picture behind.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "gif/gif_writer.hpp"
#include "platform/platform.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace graygif {

struct RunState;
struct Step;

inline constexpr const char* result_extension = ".gif";

// The result name of a data file: cut at the first "." of its file-name part (after the last
// of path_separator_characters()), followed by ".gif".
std::string result_name_for(const std::string& data_file_name);

// Whether a data file name holds ".gif" (in any letter case): such files are passed over.
bool names_a_gif_file(const std::string& name);

// The result of a data file: as the "Creating file" part shows it, and where it is written (the
// existing entry of that name, found as a data file is, or a new file).
struct ResultPlan {
    std::string result;
    std::string target;
};

// `name` in the folder `folder`: after a "/" unless the folder ends in a separator ("C:", "out/").
std::string path_in_folder(const std::string& folder, const std::string& name);

// Where a result goes, as results of one run are told apart: its folder by identity (so that
// "a.dat" and "./a.txt", or a link to the folder, meet) and its name in it.
struct ResultPlace {
    FileIdentity folder;
    bool folder_known = false;
    std::string target; // where the folder's identity is not known
    std::string name;
};
ResultPlace result_place(const std::string& target);
bool same_place(const ResultPlace& a, const ResultPlace& b);

// Decides the result of the data file at `data_path` (open as the run's data file), named `name`
// in messages: beside it, or in the current folder for an input read in order or a system entry
// (`here`), or in the folder of --output-dir. With --animate-only there is none (`plan` empty).
// @return the step: a result that may not be replaced, one this run wrote from another data file,
// or one in the animation's place, stops the run (told).
Step plan_result(RunState& run, const std::string& name, const std::string& data_path, bool here,
                 ResultPlan& plan);

// Keeps a result just written as this run's, so that no other data file replaces it.
void note_result_written(RunState& run, const std::string& destination);

enum class ExistingResultRule {
    keep,    // an existing file of that name is never replaced (no S)
    replace, // a writable existing file is replaced, at the end of its links (S)
};

enum class ResultWrite {
    written,       // the file holds the whole picture
    cannot_create, // the file could not be created, or may not be replaced (nothing was changed)
    write_error,   // writing failed (nothing was changed)
    exists,        // a file of that name appeared and was not to be replaced (nothing was changed)
};

// A result being written, from result_begin to result_end or result_abandon: the temporary
// file holds the picture's rows as far as they have come.
struct PendingResult {
    ExistingResultRule rule = ExistingResultRule::keep;
    std::string destination; // the result, at the end of its links with S
    std::string temporary;   // empty once moved into place or removed
    FileHandle file;
    bool replacing = false; // an existing result is replaced: flushed to the disk first
    std::string failure;    // why it cannot be created, mostly as the system words it
};

// The folder `result` is written in, as its destination names it ("." for a name without one).
std::string result_folder(const PendingResult& result);

// Begins writing a width x height picture (the pixels follow) to the file `target`, into a file
// only its owner may open until the picture is complete; then it takes the protection of the file
// it replaces, or else the one creating the result would give. With ExistingResultRule::replace a
// symbolic link is followed to its end and the file there (missing or writable) replaced; the
// new file is flushed to the disk before it replaces it. The open `data_file` (closed: none) is
// never replaced, whatever name leads to it, and neither is any file of `data_files`.
// @return false when the result cannot be created (nothing was changed; result.failure tells
// why).
// The picture's palette is `palette`, or the grays (null).
bool result_begin(PendingResult& result, const std::string& target, std::int32_t width,
                  std::int32_t height, GifWorkspace& workspace, ExistingResultRule rule,
                  const FileHandle& data_file, const std::vector<FileIdentity>& data_files = {},
                  const Palette* palette = nullptr);

// result_begin's steps for content of the caller's own (an animation): result_open creates the
// temporary file as result_begin does, result_attach makes `sink` write into it, and result_close
// completes it as result_end does, `written` telling whether every byte went out (the sink
// flushed without error).
bool result_open(PendingResult& result, const std::string& target, ExistingResultRule rule,
                 const FileHandle& data_file, const std::vector<FileIdentity>& data_files);
void result_attach(PendingResult& result, ByteSink& sink);
ResultWrite result_close(PendingResult& result, bool written);

// Encodes the next `count` pixels of the picture, in row order.
void result_add_pixels(GifWorkspace& workspace, const std::uint8_t* pixels, std::size_t count);

// Completes the file (all pixels given) and moves it into place. With cannot_create,
// result.failure tells why.
ResultWrite result_end(PendingResult& result, GifWorkspace& workspace);

// Removes the temporary file of a result that is not to be completed.
void result_abandon(PendingResult& result);

} // namespace graygif
