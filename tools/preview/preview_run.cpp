#include "preview_run.h"

#include "clip_reader.h"
#include "composition.h"
#include "frame_convert.h"
#include "host_session.h"
#include "input_feed.h"
#include "marker_pass.h"
#include "run_summary.h"
#include "terminal_output.h"
#include "video_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr char spool_name[] = ".filter-output.mkv";
constexpr char video_name[] = "side-by-side.mp4";
constexpr char sheet_name[] = "contact-sheet.png";
constexpr int32_t sheet_cell_width = 480; // one side-by-side pair

int fail(int status, const std::string &message) {
    std::fprintf(stderr, "pinvaler-preview: %s\n", message.c_str());
    return status;
}

// mkdir -p, then a real write: permissions, read-only mounts and full disks all show here.
bool prepare_output_dir(const std::string &dir, std::string &error) {
    std::string path;
    size_t start = 0;
    while (start <= dir.size()) {
        const size_t slash = dir.find('/', start);
        path = dir.substr(0, slash == std::string::npos ? dir.size() : slash);
        if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create the output folder " + path + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    struct stat info {};
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "the output folder " + dir + " is not a folder";
        return false;
    }
    const std::string probe = dir + "/.write-test";
    std::FILE *file = std::fopen(probe.c_str(), "wb");
    if (file == nullptr || std::fputs("ok", file) < 0 || std::fclose(file) != 0) {
        error = "cannot write into the output folder " + dir + ": " + std::strerror(errno);
        return false;
    }
    std::remove(probe.c_str());
    return true;
}

// Halves of the side-by-side: the input's shape, at most 960x720.
void half_size(int32_t width, int32_t height, int32_t &half_w, int32_t &half_h) {
    const double scale = std::min({1.0, 960.0 / width, 720.0 / height});
    half_w = std::max(2, static_cast<int32_t>(std::lround(width * scale / 2.0)) * 2);
    half_h = std::max(2, static_cast<int32_t>(std::lround(height * scale / 2.0)) * 2);
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f s", seconds);
    return text;
}

void print_host_lines(progress_bar &bar) {
    for (const std::string &line : take_host_log_lines())
        print_line(bar, line);
}

struct first_pass_result {
    int32_t frames = 0;
    std::vector<filter_view> views; // per frame, as the filter reported it (the spool keeps no
                                    // alpha)
    int32_t late_frames = 0;
    double wall_seconds = 0.0;
    double clip_seconds = 0.0;
};

// The filter at work: every frame pushed at its time (or as fast as we can),
// the filter's render read back and kept losslessly for the second pass.
int run_filter_pass(const preview_options &options, const run_paths &paths, input_feed &feed,
                    int32_t half_w, int32_t half_h, const std::string &spool_path,
                    uint32_t &canvas_w, uint32_t &canvas_h, first_pass_result &result,
                    const std::atomic<bool> &interrupted) {
    configure_host_log(options.host_log, options.filter.perf_diagnostics);
    host_session session;
    host_request request;
    request.module_path = paths.module_path;
    request.data_dir = paths.data_dir;
    request.source_width = feed.width;
    request.source_height = feed.height;
    request.render_width = half_w;
    request.render_height = half_h;
    request.source_rate = feed.frame_rate;
    request.gpu_source = options.gpu_source;
    std::string error;
    progress_bar bar =
        make_progress_bar(options.fast ? "Filter (fast)     " : "Filter (real time)");
    const bool started = start_host_session(session, request, options, error);
    print_host_lines(bar);
    if (!started) {
        stop_host_session(session);
        return fail(exit_plugin, error);
    }
    for (const std::string &line : session.startup_lines)
        std::printf("%s\n", line.c_str());
    if (options.gpu_source)
        std::printf("Input:   %s; shown as a picture drawn on the GPU, as an image or capture "
                    "source is\n",
                    feed.description.c_str());
    else
        std::printf("Input:   %s; frames go in %s\n", feed.description.c_str(),
                    feed.fed_as.c_str());
    std::fflush(stdout);
    canvas_w = session.canvas_width;
    canvas_h = session.canvas_height;

    video_writer spool;
    if (!open_video_writer(spool, spool_path, half_w, half_h, feed.frame_rate,
                           video_quality::lossless, error)) {
        stop_host_session(session);
        return fail(exit_output, error);
    }

    rgba_image rendered;
    procedure_state drawn;
    bool rendered_waiting = false; // a read-back frame not yet in the spool
    feed_frame frame;
    const auto began = std::chrono::steady_clock::now();
    auto start = began; // moves on when a frame goes in late
    const double interval = 1.0 / av_q2d(feed.frame_rate);
    double first_time = -1.0;
    int status = exit_ok;
    std::string feed_error; // decoding stopped early
    bool have_frame = next_feed_frame(feed, frame, feed_error);
    while (have_frame && !interrupted.load()) {
        const double pushed_seconds = frame.seconds;
        if (first_time < 0.0)
            first_time = pushed_seconds;
        if (!options.fast) {
            const auto due =
                start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(pushed_seconds - first_time));
            const auto now = std::chrono::steady_clock::now();
            if (now > due + std::chrono::duration<double>(interval)) {
                // Like a camera after a hiccup: the next frames keep the cadence
                // from here rather than rush to make up the delay.
                ++result.late_frames;
                start += now - due;
            } else {
                std::this_thread::sleep_until(due);
            }
        }
        if (!push_frame(session, frame, error)) {
            status = fail(exit_failed, error);
            break;
        }
        // While the host takes the frame up: keep the last one, make the next.
        if (rendered_waiting && !write_video_frame(spool, rendered, error)) {
            status = fail(exit_output, error);
            break;
        }
        rendered_waiting = false;
        have_frame = next_feed_frame(feed, frame, feed_error);
        if (!render_pushed(session, rendered, drawn, error)) {
            status = fail(exit_failed, error);
            break;
        }
        rendered_waiting = true;
        // The crop is a fraction of the frame the filter last took; before the first, the feed's.
        const bool sized = drawn.frame_width > 0 && drawn.frame_height > 0;
        result.views.push_back(view_of_crop(
            drawn.visible, drawn.crop_scale_x, drawn.crop_scale_y, drawn.crop_offset_x,
            drawn.crop_offset_y, sized ? static_cast<int32_t>(drawn.frame_width) : feed.width,
            sized ? static_cast<int32_t>(drawn.frame_height) : feed.height));
        ++result.frames;
        result.clip_seconds = pushed_seconds - first_time + interval;
        print_host_lines(bar);
        show_progress(bar, result.frames, feed.expected_frames, seconds_text(result.clip_seconds));
    }
    if (status == exit_ok && rendered_waiting && !write_video_frame(spool, rendered, error))
        status = fail(exit_output, error);
    result.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    finish_progress(bar);
    std::string finish_error;
    if (!finish_video_writer(spool, finish_error) && status == exit_ok)
        status = fail(exit_output, finish_error);
    stop_host_session(session);
    print_host_lines(bar);
    if (status != exit_ok)
        return status;
    if (interrupted.load())
        return exit_interrupted;
    if (!feed_error.empty()) {
        if (result.frames == 0)
            return fail(exit_input, "the input could not be decoded: " + feed_error);
        std::fprintf(stderr, "pinvaler-preview: the input stops decoding after %d frames (%s)\n",
                     result.frames, feed_error.c_str());
    }
    if (result.frames == 0)
        return fail(exit_input, "the input holds no frames");
    return exit_ok;
}

struct moment {
    int32_t frame;
    std::string caption;
};

std::vector<moment> choose_moments(const input_feed &feed, int32_t frames) {
    std::vector<moment> moments;
    const double rate = av_q2d(feed.frame_rate);
    if (feed.from_scene) {
        for (const scene_moment &m : scene_moments(feed.scene))
            moments.push_back(
                {std::clamp(static_cast<int32_t>(std::lround(m.time * rate)), 0, frames - 1),
                 seconds_text(m.time) + "  " + m.label});
        return moments;
    }
    for (int k = 0; k < 6; ++k) {
        const int32_t index = static_cast<int32_t>((k + 0.5) * frames / 6.0);
        moments.push_back({index, seconds_text(index / rate)});
    }
    return moments;
}

// Everything that does not need the host: the tool's own detection on every
// frame, where the filter looked, and the outputs.
int run_report_pass(const preview_options &options, input_feed &feed, int32_t half_w,
                    int32_t half_h, const std::string &spool_path, uint32_t canvas_w,
                    uint32_t canvas_h, const first_pass_result &first,
                    const std::atomic<bool> &interrupted) {
    std::string error;
    clip_reader spool;
    if (!open_clip(spool_path, spool, error))
        return fail(exit_failed, "cannot read back the filter's frames: " + error);
    // The thread count changes only how fast, not what is found; this pass may use every core.
    const unsigned cores = std::thread::hardware_concurrency();
    const tag_detector markers(options.filter.tag_family, static_cast<int32_t>(cores ? cores : 2));
    if (!markers.family || !markers.detector)
        return fail(exit_failed, "cannot set up the marker detector");
    const std::string video_path = options.out_dir + "/" + video_name;
    video_writer video;
    if (!open_video_writer(video, video_path, 2 * half_w, half_h, feed.frame_rate,
                           video_quality::viewing, error)) {
        return fail(exit_output, error);
    }

    const std::vector<moment> moments = choose_moments(feed, first.frames);
    std::vector<sheet_cell> cells;
    std::vector<frame_record> records;
    records.reserve(static_cast<size_t>(first.frames));
    progress_bar bar = make_progress_bar("Detect and encode ");
    av_frame_ptr spooled = make_av_frame();
    sws_ptr left_scaler, right_scaler;
    rgba_image left, right;
    grey_image luma;
    feed_frame frame;
    const float scale = static_cast<float>(half_w) / static_cast<float>(feed.width);
    int status = exit_ok;
    for (int32_t index = 0; index < first.frames && !interrupted.load(); ++index) {
        double spool_seconds = 0.0;
        av_frame_unref(spooled.get());
        if (!next_feed_frame(feed, frame, error) ||
            !read_clip_frame(spool, spooled.get(), spool_seconds, error)) {
            status = fail(exit_failed, "the second pass lost step with the first" +
                                           (error.empty() ? std::string() : ": " + error));
            break;
        }
        picture_to_rgba(spooled.get(), right_scaler, right);
        frame_to_rgba(frame, half_w, half_h, left_scaler, left);
        detection_luma(frame, options.filter.detect_width, luma);
        const marker_frame found = detect_markers(markers, options.filter, luma, feed.width,
                                                  feed.height, canvas_w, canvas_h);

        const filter_view &crop = first.views[static_cast<size_t>(index)];
        const bool hidden = !crop.visible;

        frame_record record;
        record.seconds = frame.seconds;
        record.found_a = found.a.found;
        record.found_b = found.b.found;
        record.margin_a = found.a.margin;
        record.margin_b = found.b.margin;
        record.side_a = found.a.side;
        record.side_b = found.b.side;
        record.detect_ms = found.detect_ms;
        record.view = crop;
        record.expected_valid = found.expected.valid;
        record.expected_x = found.expected.center_x;
        record.expected_y = found.expected.center_y;
        record.expected_w = found.expected.width;
        record.expected_h = found.expected.height;
        records.push_back(record);

        draw_input_overlay(left, scale, found, crop, frame.seconds);
        const rgba_image both = side_by_side(left, right, hidden);
        if (!write_video_frame(video, both, error)) {
            status = fail(exit_output, error);
            break;
        }
        for (const moment &m : moments)
            if (m.frame == index)
                cells.push_back({resize_picture(both, sheet_cell_width,
                                                sheet_cell_width * both.height / both.width),
                                 m.caption});
        show_progress(bar, index + 1, first.frames, seconds_text(frame.seconds));
    }
    finish_progress(bar);
    std::string finish_error;
    if (!finish_video_writer(video, finish_error) && status == exit_ok)
        status = fail(exit_output, finish_error);
    if (status != exit_ok)
        return status;
    if (interrupted.load())
        return exit_interrupted;

    const std::string sheet_path = options.out_dir + "/" + sheet_name;
    if (!write_png(sheet_path, contact_sheet(cells), error))
        return fail(exit_output, error);

    const std::vector<second_summary> seconds = summarise_seconds(records, feed.width, feed.height);
    std::printf("\nPer second (markers as this tool's own detection finds them with the filter's "
                "fixed settings, on a %dx%d detection image; margin = decision margin, size = "
                "side of the square the detector found, in source pixels; filter shows = what "
                "the filter reported of itself while drawing: its crop at the second's last "
                "cropped frame, width x height at left,top, in source pixels):\n",
                luma.width, luma.height);
    std::printf("%s", summary_table(seconds).c_str());
    std::string pace = "real time";
    if (options.fast)
        pace = "--fast: not paced";
    else if (first.late_frames > 0)
        pace = std::to_string(first.late_frames) + " frames went in more than a frame late" +
               (10 * first.late_frames > first.frames
                    ? ": this machine is too slow for real time at this size; a smaller --size "
                      "helps"
                    : "");
    std::printf("\nFilter pass: %d frames in %.1f s for %.1f s of video (%s)\n", first.frames,
                first.wall_seconds, first.clip_seconds, pace.c_str());
    std::printf("Outputs:  %s\n          %s\n", video_path.c_str(), sheet_path.c_str());
    std::printf("%s\n", result_line(total_up(seconds, first.frames, first.late_frames)).c_str());
    return exit_ok;
}

} // namespace

int run_preview(const preview_options &options, const run_paths &paths,
                const std::atomic<bool> &interrupted) {
    std::string error;
    input_feed feed;
    if (!open_input_feed(feed, options, error))
        return fail(exit_input, error);
    if (!prepare_output_dir(options.out_dir, error))
        return fail(exit_output, error);

    int32_t half_w = 0, half_h = 0;
    half_size(feed.width, feed.height, half_w, half_h);
    const std::string spool_path = options.out_dir + "/" + spool_name;
    uint32_t canvas_w = 0, canvas_h = 0;
    first_pass_result first;
    int status = run_filter_pass(options, paths, feed, half_w, half_h, spool_path, canvas_w,
                                 canvas_h, first, interrupted);
    if (status == exit_ok) {
        input_feed again;
        if (!open_input_feed(again, options, error))
            status = fail(exit_input, error);
        else
            status = run_report_pass(options, again, half_w, half_h, spool_path, canvas_w, canvas_h,
                                     first, interrupted);
    }
    std::remove(spool_path.c_str());
    if (status == exit_interrupted)
        std::fprintf(stderr, "pinvaler-preview: interrupted\n");
    return status;
}

int check_media_file(const std::string &path) {
    std::string error;
    clip_reader clip;
    if (!open_clip(path, clip, error))
        return fail(exit_input, error);
    av_frame_ptr frame = make_av_frame();
    int64_t frames = 0;
    double last = 0.0;
    int32_t width = 0, height = 0;
    while (read_clip_frame(clip, frame.get(), last, error)) {
        width = frame->width;
        height = frame->height;
        ++frames;
        av_frame_unref(frame.get());
    }
    if (!error.empty() || frames == 0)
        return fail(exit_input, path + ": " + (error.empty() ? "no frame decoded" : error));
    std::printf("%s: %s, %dx%d, %lld frames, %.2f s\n", path.c_str(), clip.decoder->codec->name,
                width, height, static_cast<long long>(frames),
                last + 1.0 / av_q2d(clip.frame_rate));
    return exit_ok;
}
