#include "app/animation.hpp"

#include "app/messages.hpp"
#include "app/result_file.hpp"
#include "platform/name_rules.hpp"

namespace graygif {

namespace {

ExistingResultRule rule_of(const RunState& run) {
    return run.settings.overwrite ? ExistingResultRule::replace : ExistingResultRule::keep;
}

} // namespace

Step plan_animation(RunState& run) {
    const ShareOptions& share = run.settings.share;
    RunAnimation& animation = run.animation;
    animation.wanted = true;
    // A name with a folder of its own stands as typed.
    const bool in_output_folder =
        !share.output_dir.empty() &&
        after_last_separator(share.animation, path_separator_characters()) == 0;
    const std::string path =
        in_output_folder ? path_in_folder(share.output_folder, share.animation) : share.animation;
    animation.shown =
        in_output_folder ? path_in_folder(share.output_dir, share.animation) : share.animation;
    std::string target;
    if (!resolve_existing_name(path, run.folder_listings, target)) {
        target = path;
    } else if (!run.settings.overwrite) {
        return stop_on_existing_result(run, animation.shown);
    }
    animation.place = result_place(target);
    animation.gif.reset(new GifWorkspace);
    if (!result_open(animation.pending, target, rule_of(run), FileHandle{}, run.data_identities)) {
        tell_result_not_written(run, animation.pending, ResultWrite::cannot_create,
                                animation.shown);
        return stop_with(exit_size_or_open);
    }
    result_attach(animation.pending, animation.gif->sink);
    return go_on();
}

Step check_frame_size(RunState& run, const std::string& name, PictureSize size) {
    RunAnimation& animation = run.animation;
    if (!animation.size_known) {
        animation.size_known = true;
        animation.size = size;
        animation.size_from = name;
        return go_on();
    }
    if (size.width == animation.size.width && size.height == animation.size.height) return go_on();
    return stop_on_frames_of_two_sizes(run, animation.size_from, animation.size, name, size);
}

void animation_frame_begin(RunState& run) {
    RunAnimation& animation = run.animation;
    GifWorkspace& gif = *animation.gif;
    // The screen and the loop come with the first frame, whose size is every frame's.
    if (animation.frames == 0) {
        anim_begin(animation.header, gif.sink, animation.size.width, animation.size.height,
                   run.settings.share.palette, run.settings.share.delay_cs);
    }
    anim_frame_begin(animation.header, gif.sink, gif.encoder);
}

void animation_add_pixels(RunState& run, const std::uint8_t* pixels, std::size_t count) {
    lzw_add_pixels(run.animation.gif->encoder, pixels, count);
}

void animation_frame_end(RunState& run) {
    RunAnimation& animation = run.animation;
    anim_frame_end(animation.gif->sink, animation.gif->encoder);
    ++animation.frames;
}

Step finish_animation(RunState& run) {
    RunAnimation& animation = run.animation;
    if (animation.frames == 0) {
        result_abandon(animation.pending);
        tell_animation_without_frames(run);
        return go_on();
    }
    const ResultWrite written = result_close(animation.pending, anim_finish(animation.gif->sink));
    if (written == ResultWrite::exists) return stop_on_existing_result(run, animation.shown);
    if (written != ResultWrite::written) {
        tell_result_not_written(run, animation.pending, written, animation.shown);
        run.result_failed = true;
        return go_on();
    }
    name_index_add(run.folder_listings, animation.place.target);
    tell_animation_written(run);
    return go_on();
}

} // namespace graygif
