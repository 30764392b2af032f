#include "test_source.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <util/platform.h>
#include <vector>

namespace {

constexpr char test_source_id[] = "pinvaler_test_source";

const char *test_source_name(void *) {
    return "Pinvale test source";
}

void *test_source_create(obs_data_t *, obs_source_t *source) {
    return source; // nothing of its own: frames come from push_picture
}

void test_source_destroy(void *) {}

void register_test_source() {
    static std::once_flag once;
    std::call_once(once, [] {
        obs_source_info info{};
        info.id = test_source_id;
        info.type = OBS_SOURCE_TYPE_INPUT;
        info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
        info.get_name = test_source_name;
        info.create = test_source_create;
        info.destroy = test_source_destroy;
        obs_register_source(&info);
    });
}

struct yuv {
    float y, cb, cr;
};

// BT.709 with limited range: luma 16 to 235, chroma 16 to 240 around 128.
yuv to_yuv709(const uint8_t *rgb) {
    const float r = rgb[0] / 255.0f, g = rgb[1] / 255.0f, b = rgb[2] / 255.0f;
    const float luma = 0.2126f * r + 0.7152f * g + 0.0722f * b;
    return {16.0f + 219.0f * luma, 128.0f + 224.0f * (b - luma) / 1.8556f,
            128.0f + 224.0f * (r - luma) / 1.5748f};
}

uint8_t to_byte(float v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// Full-resolution luma plane and the chroma of each 2x2 block, averaged.
struct yuv420_planes {
    std::vector<uint8_t> y, cb, cr;
};

yuv420_planes to_yuv420(const rgb_picture &picture) {
    const int32_t w = picture.width, h = picture.height;
    yuv420_planes planes;
    planes.y.resize(static_cast<size_t>(w) * h);
    planes.cb.resize(static_cast<size_t>(w / 2) * (h / 2));
    planes.cr.resize(planes.cb.size());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            planes.y[static_cast<size_t>(y) * w + x] = to_byte(to_yuv709(picture.at(x, y)).y);
    for (int32_t y = 0; y < h / 2; ++y)
        for (int32_t x = 0; x < w / 2; ++x) {
            float cb = 0, cr = 0;
            for (int32_t dy = 0; dy < 2; ++dy)
                for (int32_t dx = 0; dx < 2; ++dx) {
                    const yuv c = to_yuv709(picture.at(2 * x + dx, 2 * y + dy));
                    cb += c.cb;
                    cr += c.cr;
                }
            planes.cb[static_cast<size_t>(y) * (w / 2) + x] = to_byte(cb / 4);
            planes.cr[static_cast<size_t>(y) * (w / 2) + x] = to_byte(cr / 4);
        }
    return planes;
}

} // namespace

obs_source_t *create_test_source(const char *name) {
    register_test_source();
    obs_source_t *source = obs_source_create_private(test_source_id, name, nullptr);
    if (source)
        obs_source_set_async_unbuffered(source, true);
    return source;
}

raw_video_frame::raw_video_frame(const rgb_picture &picture, video_format format) {
    const uint32_t w = static_cast<uint32_t>(picture.width);
    const uint32_t h = static_cast<uint32_t>(picture.height);
    frame_.width = w;
    frame_.height = h;
    frame_.format = format;
    if (format == VIDEO_FORMAT_BGRA) {
        std::vector<uint8_t> &bgra = planes_[0];
        bgra.resize(static_cast<size_t>(w) * h * 4);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
            bgra[i * 4 + 0] = picture.rgb[i * 3 + 2];
            bgra[i * 4 + 1] = picture.rgb[i * 3 + 1];
            bgra[i * 4 + 2] = picture.rgb[i * 3 + 0];
            bgra[i * 4 + 3] = 255;
        }
        frame_.linesize[0] = w * 4;
        frame_.full_range = true;
    } else {
        yuv420_planes yuv = to_yuv420(picture);
        planes_[0] = std::move(yuv.y);
        frame_.linesize[0] = w;
        if (format == VIDEO_FORMAT_NV12) {
            planes_[1].resize(yuv.cb.size() * 2);
            for (size_t i = 0; i < yuv.cb.size(); ++i) {
                planes_[1][i * 2] = yuv.cb[i];
                planes_[1][i * 2 + 1] = yuv.cr[i];
            }
            frame_.linesize[1] = w;
        } else {
            planes_[1] = std::move(yuv.cb);
            planes_[2] = std::move(yuv.cr);
            frame_.linesize[1] = frame_.linesize[2] = w / 2;
        }
        video_format_get_parameters_for_format(VIDEO_CS_709, VIDEO_RANGE_PARTIAL, format,
                                               frame_.color_matrix, frame_.color_range_min,
                                               frame_.color_range_max);
        frame_.full_range = false;
    }
    for (int i = 0; i < 3; ++i)
        frame_.data[i] = planes_[i].empty() ? nullptr : planes_[i].data();
}

void raw_video_frame::push_to(obs_source_t *source) {
    frame_.timestamp = os_gettime_ns();
    obs_source_output_video(source, &frame_);
}
