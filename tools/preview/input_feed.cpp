#include "input_feed.h"

#include "pixel_formats.h"

#include <cmath>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

bool scene_frame(input_feed &feed, feed_frame &out, std::string &error) {
    if (feed.next_index >= feed.scene.frame_count)
        return false;
    scene_marker truth[2];
    render_scene_frame(feed.scene, feed.next_index, feed.scene_picture, truth);
    // BGRA, the host's own RGB layout. (YUV frames would cost a software
    // renderer a conversion pass per frame, which can cost real time.)
    AVFrame *frame = feed.converted.get();
    if (frame->data[0] == nullptr) {
        frame->format = AV_PIX_FMT_BGRA;
        frame->width = feed.width;
        frame->height = feed.height;
        if (av_frame_get_buffer(frame, 0) < 0) {
            error = "out of memory for the scene";
            return false;
        }
    }
    for (int32_t y = 0; y < feed.height; ++y) {
        const uint8_t *in = feed.scene_picture.row(y);
        uint8_t *dst = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        for (int32_t x = 0; x < feed.width; ++x, in += 4, dst += 4) {
            dst[0] = in[2];
            dst[1] = in[1];
            dst[2] = in[0];
            dst[3] = in[3];
        }
    }
    out.frame = frame;
    out.format = VIDEO_FORMAT_BGRA;
    out.colorspace = VIDEO_CS_709;
    out.full_range = true;
    out.index = feed.next_index;
    out.seconds = static_cast<double>(feed.next_index) / feed.scene.fps;
    ++feed.next_index;
    return true;
}

bool clip_frame(input_feed &feed, feed_frame &out, std::string &error) {
    double seconds = 0.0;
    av_frame_unref(feed.decoded.get());
    if (!read_clip_frame(feed.clip, feed.decoded.get(), seconds, error))
        return false;
    if (feed.limit_seconds > 0.0 && seconds >= feed.limit_seconds)
        return false;
    AVFrame *decoded = feed.decoded.get();
    const auto format = static_cast<AVPixelFormat>(decoded->format);
    out.colorspace = colorspace_for(decoded->colorspace, decoded->height);
    out.format = host_format_for(format);
    out.full_range = full_range_for(format, decoded->color_range);
    out.frame = decoded;
    if (out.format == VIDEO_FORMAT_NONE || decoded->width != feed.width ||
        decoded->height != feed.height) {
        // Formats the filter does not track, and frames that change size midway,
        // reach the host as the first frame was described.
        const AVPixelFormat target = fallback_format_for(format);
        AVFrame *converted = feed.converted.get();
        if (converted->data[0] == nullptr || converted->format != target) {
            av_frame_unref(converted);
            converted->format = target;
            converted->width = feed.width;
            converted->height = feed.height;
            if (av_frame_get_buffer(converted, 0) < 0) {
                error = "out of memory for a converted frame";
                return false;
            }
        }
        feed.converter.reset(sws_getCachedContext(feed.converter.release(), decoded->width,
                                                  decoded->height, format, feed.width, feed.height,
                                                  target, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!feed.converter) {
            error = std::string("cannot convert ") + av_get_pix_fmt_name(format) + " frames";
            return false;
        }
        const int matrix = out.colorspace == VIDEO_CS_601 ? SWS_CS_ITU601 : SWS_CS_ITU709;
        sws_setColorspaceDetails(feed.converter.get(), sws_getCoefficients(matrix),
                                 out.full_range ? 1 : 0, sws_getCoefficients(matrix), 0, 0, 1 << 16,
                                 1 << 16);
        sws_scale(feed.converter.get(), decoded->data, decoded->linesize, 0, decoded->height,
                  converted->data, converted->linesize);
        out.frame = converted;
        out.format = host_format_for(target);
        out.full_range = out.format == VIDEO_FORMAT_BGRA;
    }
    out.index = feed.next_index++;
    out.seconds = seconds;
    return true;
}

} // namespace

bool open_input_feed(input_feed &feed, const preview_options &options, std::string &error) {
    feed.decoded = make_av_frame();
    feed.converted = make_av_frame();
    feed.next_index = 0;
    if (options.input.empty()) {
        feed.from_scene = true;
        const double seconds = options.seconds > 0.0 ? options.seconds : default_scene_seconds;
        if (!make_synthetic_scene(options.scene_width, options.scene_height, seconds, scene_fps,
                                  options.filter.tag_family, options.filter.tag_id_a,
                                  options.filter.tag_id_b, feed.scene, error))
            return false;
        feed.width = options.scene_width;
        feed.height = options.scene_height;
        feed.frame_rate = {static_cast<int>(scene_fps), 1};
        feed.expected_frames = feed.scene.frame_count;
        char text[160];
        std::snprintf(text, sizeof(text), "built-in scene, %dx%d, %.0f s at %.0f fps", feed.width,
                      feed.height, seconds, scene_fps);
        feed.description = text;
        feed.fed_as = "as BGRA";
        return true;
    }

    feed.from_scene = false;
    feed.limit_seconds = options.seconds;
    if (!open_clip(options.input, feed.clip, error))
        return false;
    double seconds = 0.0;
    if (!read_clip_frame(feed.clip, feed.decoded.get(), seconds, error)) {
        error = options.input + ": no frame could be decoded" +
                (error.empty() ? std::string() : " (" + error + ")");
        return false;
    }
    const AVFrame *first = feed.decoded.get();
    feed.width = first->width;
    feed.height = first->height;
    feed.frame_rate = feed.clip.frame_rate;
    double length = feed.clip.duration;
    if (feed.limit_seconds > 0.0 && (length <= 0.0 || feed.limit_seconds < length))
        length = feed.limit_seconds;
    feed.expected_frames =
        length > 0.0 ? static_cast<int32_t>(std::lround(length * av_q2d(feed.frame_rate))) : 0;
    const auto format = static_cast<AVPixelFormat>(first->format);
    const char *name = av_get_pix_fmt_name(format);
    char text[512];
    std::snprintf(text, sizeof(text), "%s, %dx%d, %s at %.3g fps, %s", options.input.c_str(),
                  feed.width, feed.height,
                  length > 0.0
                      ? (std::to_string(static_cast<int>(std::lround(length))) + " s").c_str()
                      : "length unknown",
                  av_q2d(feed.frame_rate), name ? name : "unknown pixel format");
    feed.description = text;
    if (host_format_for(format) != VIDEO_FORMAT_NONE) {
        feed.fed_as = "as decoded";
    } else {
        const AVPixelFormat target = fallback_format_for(format);
        feed.fed_as = std::string("converted to ") + av_get_pix_fmt_name(target) +
                      ": the filter does not track " + (name ? name : "this format");
    }
    // Start again from the first frame.
    feed.clip = clip_reader{};
    if (!open_clip(options.input, feed.clip, error))
        return false;
    return true;
}

bool next_feed_frame(input_feed &feed, feed_frame &out, std::string &error) {
    return feed.from_scene ? scene_frame(feed, out, error) : clip_frame(feed, out, error);
}
