#include "app/picture_output.hpp"

#include "app/animation.hpp"
#include "app/messages.hpp"

#include <algorithm>

namespace graygif {

namespace {

void begin_result(ResultEncoding& encoding) {
    if (encoding.begun) return;
    encoding.begun = true;
    RunState& run = *encoding.run;
    if (run.animation.wanted) animation_frame_begin(run);
    if (!writes_pictures(run)) return;
    const ExistingResultRule rule =
        run.settings.overwrite ? ExistingResultRule::replace : ExistingResultRule::keep;
    encoding.can_create = result_begin(encoding.pending, encoding.target, encoding.picture.width,
                                       encoding.picture.height, *encoding.gif, rule, run.data_file,
                                       run.data_identities, run.settings.share.palette);
    if (encoding.can_create) run.pending_result = &encoding.pending;
}

} // namespace

void encode_rows(void* context, const std::uint8_t* pixels, std::int32_t, std::int32_t count) {
    ResultEncoding& encoding = *static_cast<ResultEncoding*>(context);
    begin_result(encoding);
    const std::size_t size =
        static_cast<std::size_t>(count) * static_cast<std::size_t>(encoding.picture.width);
    if (!encoding.lit) encoding.lit = std::any_of(pixels, pixels + size, [](auto p) { return p; });
    if (encoding.can_create) {
        result_add_pixels(*encoding.gif, pixels, size);
    }
    if (encoding.run->animation.wanted) animation_add_pixels(*encoding.run, pixels, size);
}

Step finish_result(ResultEncoding& encoding, const std::string& result) {
    RunState& run = *encoding.run;
    begin_result(encoding);
    if (run.animation.wanted) animation_frame_end(run);
    if (!writes_pictures(run)) return go_on();
    ResultWrite written = ResultWrite::cannot_create;
    if (encoding.can_create) {
        written = result_end(encoding.pending, *encoding.gif);
        run.pending_result = nullptr;
    }
    if (written == ResultWrite::exists) return stop_on_existing_result(run, result);
    if (written != ResultWrite::written) {
        tell_result_not_written(run, encoding.pending, written, result);
        run.result_failed = true;
        return go_on();
    }
    name_index_add(run.folder_listings, encoding.target);
    note_result_written(run, encoding.pending.destination);
    return go_on();
}

} // namespace graygif
