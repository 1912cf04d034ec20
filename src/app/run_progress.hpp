// The sinks through which the engine's reader messages and progress characters reach the
// console of the run.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

inline TextSink reader_messages(RunState& run) {
    return TextSink{&run, [](void* context, const char* data, std::size_t size) {
                        console_write_text(static_cast<RunState*>(context)->console,
                                           ConsoleStream::err, data, size);
                    }};
}

inline ProgressSink row_progress(RunState& run) {
    return ProgressSink{&run, [](void* context, char character, std::uint64_t position) {
                            console_progress(static_cast<RunState*>(context)->console, character,
                                             position);
                        }};
}

} // namespace graygif
