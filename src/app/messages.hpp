// What the conversion run tells the user: its stops, its notes, the "Working on file" line and
// the copyright notice, every text in one place. A stop's function prints it and returns the
// step that ends the run.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/draw_limits.hpp"
#include "app/options.hpp"
#include "app/run_state.hpp"

#include <string>

namespace graygif {

// ---- Stops -----------------------------------------------------------------------------------
Step stop_on_unopened(RunState& run, const std::string& name, OpenResult why);
Step stop_on_existing_result(RunState& run, const std::string& result);
Step stop_on_result_of_another(RunState& run, const std::string& result,
                               const std::string& earlier_data);
Step stop_on_result_planned_twice(RunState& run, const std::string& result,
                                  const std::string& earlier_data, const std::string& data);
// An input that can be read only once, named again (`name`), or named at all with one scale.
Step stop_on_read_once_again(RunState& run, const std::string& name);
Step stop_on_read_once_with_one_scale(RunState& run, const std::string& name);
Step stop_on_read_once_with_clipped_limits(RunState& run, const std::string& name);
Step stop_on_read_once_with_frame_sizes(RunState& run, const std::string& name);
// A picture of the data file `data` that would take the place of the run's animation.
Step stop_on_result_is_animation(RunState& run, const std::string& result, const std::string& data);
// Frames of the animation that differ in size: the first one's (of `first`) and `name`'s.
Step stop_on_frames_of_two_sizes(RunState& run, const std::string& first, PictureSize first_size,
                                 const std::string& name, PictureSize size);
// A long option that is unknown (exit code 1) or has a bad value (4). @return the exit code.
int stop_on_option_problem(RunState& run, const OptionProblem& problem);
// What a reading found: a bad row, a read error, a lack of memory; else go_on.
Step settle_read(RunState& run, const std::string& name, const ConversionResult& read);
Step stop_on_no_memory(RunState& run);

// ---- Progress and notes ----------------------------------------------------------------------
void tell_ignored_file(RunState& run, const std::string& name);
void tell_working_on(RunState& run, const std::string& name, const std::string& result);
// With --animate-only: the file at hand becomes the animation's next frame.
void tell_working_on_frame(RunState& run, const std::string& name);
void tell_reading_for_frame_size(RunState& run, const std::string& name);
void tell_animation_written(RunState& run);
void tell_animation_without_frames(RunState& run);
// The names of the colour maps, "gray, viridis, ... and coolwarm", for the help and a bad name.
std::string colour_map_list();
void tell_reading_for_scale(RunState& run, const std::string& name);
void tell_reading_for_percentiles(RunState& run, const std::string& name);
void tell_reading_for_limits(RunState& run, const std::string& name);
void tell_scale_of_run(RunState& run, const Limits& limits);
// --limits: "NAME LOW HIGH" on standard output ("-" for a limit the data does not give).
void tell_limits(RunState& run, const std::string& name, const Limits& limits);
// What writing the result gave, where it is not written.
void tell_result_not_written(RunState& run, const PendingResult& pending, ResultWrite written,
                             const std::string& result);
// The notes on what the picture shows: data left out, a file that changed, values beyond the
// values' precision, and why a picture is black; `scale` is the one it is drawn with.
void tell_picture_notes(RunState& run, PictureSize picture, const std::string& name,
                        const ConversionResult& read, const ValueRange& scale);
// The same for a picture drawn over limits not the data's or with a stretch, with what drawing
// counted; `black`: no pixel of it is lit.
void tell_scaled_picture_notes(RunState& run, PictureSize picture, const std::string& name,
                               const ConversionResult& read, const Limits& limits,
                               const DrawCounts& counts, bool black);
// With one scale: a file whose values now lie beyond the scale its first reading gave.
void tell_changed_since_scale(RunState& run, const std::string& name);
// The elapsed time and the copyright notice, as asked for (or, the notice, by chance).
void tell_run_end(RunState& run);

} // namespace graygif
