#include "clip_reader.h"
#include "module_location.h"
#include "pixel_formats.h"
#include "video_writer.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

TEST(PixelFormats, DecodedFormatsTheFilterTracksGoInAsTheyAre) {
    const struct {
        AVPixelFormat av;
        video_format host;
    } table[] = {
        {AV_PIX_FMT_YUV420P, VIDEO_FORMAT_I420}, {AV_PIX_FMT_YUVJ420P, VIDEO_FORMAT_I420},
        {AV_PIX_FMT_NV12, VIDEO_FORMAT_NV12},    {AV_PIX_FMT_YUV422P, VIDEO_FORMAT_I422},
        {AV_PIX_FMT_YUV444P, VIDEO_FORMAT_I444}, {AV_PIX_FMT_GRAY8, VIDEO_FORMAT_Y800},
        {AV_PIX_FMT_YUYV422, VIDEO_FORMAT_YUY2}, {AV_PIX_FMT_UYVY422, VIDEO_FORMAT_UYVY},
        {AV_PIX_FMT_YVYU422, VIDEO_FORMAT_YVYU}, {AV_PIX_FMT_BGRA, VIDEO_FORMAT_BGRA},
        {AV_PIX_FMT_RGBA, VIDEO_FORMAT_RGBA},    {AV_PIX_FMT_BGR0, VIDEO_FORMAT_BGRX},
    };
    for (const auto &row : table)
        EXPECT_EQ(host_format_for(row.av), row.host) << av_get_pix_fmt_name(row.av);
}

TEST(PixelFormats, OthersAreConvertedToTheNearestTrackedFormat) {
    const struct {
        AVPixelFormat av;
        AVPixelFormat converted;
    } table[] = {
        {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_NV12}, {AV_PIX_FMT_P010LE, AV_PIX_FMT_NV12},
        {AV_PIX_FMT_RGB24, AV_PIX_FMT_BGRA},       {AV_PIX_FMT_YUVA420P, AV_PIX_FMT_BGRA},
        {AV_PIX_FMT_GBRP, AV_PIX_FMT_BGRA},
    };
    for (const auto &row : table) {
        EXPECT_EQ(host_format_for(row.av), VIDEO_FORMAT_NONE) << av_get_pix_fmt_name(row.av);
        EXPECT_EQ(fallback_format_for(row.av), row.converted) << av_get_pix_fmt_name(row.av);
    }
}

TEST(PixelFormats, RangeAndMatrix) {
    EXPECT_TRUE(full_range_for(AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_UNSPECIFIED));
    EXPECT_TRUE(full_range_for(AV_PIX_FMT_YUV420P, AVCOL_RANGE_JPEG));
    EXPECT_FALSE(full_range_for(AV_PIX_FMT_YUV420P, AVCOL_RANGE_UNSPECIFIED));
    EXPECT_EQ(colorspace_for(AVCOL_SPC_BT709, 480), VIDEO_CS_709);
    EXPECT_EQ(colorspace_for(AVCOL_SPC_SMPTE170M, 1080), VIDEO_CS_601);
    EXPECT_EQ(colorspace_for(AVCOL_SPC_UNSPECIFIED, 720), VIDEO_CS_709);
    EXPECT_EQ(colorspace_for(AVCOL_SPC_UNSPECIFIED, 480), VIDEO_CS_601);
}

TEST(ModuleLocation, FindsTheDataBesideAnInstalledModule) {
    EXPECT_EQ(installed_data_dirs("/home/u/.config/obs-studio/plugins/pinvaler-filter/bin/64bit/"
                                  "pinvaler-filter.so"),
              std::vector<std::string>{"/home/u/.config/obs-studio/plugins/pinvaler-filter/data"});
    EXPECT_EQ(installed_data_dirs("/usr/lib/x86_64-linux-gnu/obs-plugins/pinvaler-filter.so"),
              std::vector<std::string>{"/usr/share/obs/obs-plugins/pinvaler-filter"});
    EXPECT_EQ(installed_data_dirs("/opt/obs/lib/obs-plugins/pinvaler-filter.so"),
              std::vector<std::string>{"/opt/obs/share/obs/obs-plugins/pinvaler-filter"});
    EXPECT_TRUE(installed_data_dirs("build/dev/pinvaler-filter.so").empty());
}

struct scratch_dir {
    std::string path;
    scratch_dir() {
        char name[] = "/tmp/pinvaler-media-XXXXXX";
        path = mkdtemp(name);
    }
    ~scratch_dir() { std::filesystem::remove_all(path); }
};

rgba_image gradient(int32_t width, int32_t height, int32_t shift) {
    rgba_image image = make_rgba_image(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *p = image.row(y) + 4 * x;
            p[0] = static_cast<uint8_t>(x + shift);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x ^ y);
            p[3] = 255;
        }
    return image;
}

TEST(MediaFiles, WhatTheWriterWritesTheReaderReads) {
    const scratch_dir dir;
    for (video_quality quality : {video_quality::viewing, video_quality::lossless}) {
        const std::string path =
            dir.path + (quality == video_quality::viewing ? "/v.mp4" : "/v.mkv");
        video_writer writer;
        std::string error;
        ASSERT_TRUE(open_video_writer(writer, path, 96, 64, {30, 1}, quality, error)) << error;
        for (int32_t i = 0; i < 12; ++i)
            ASSERT_TRUE(write_video_frame(writer, gradient(96, 64, i), error)) << error;
        ASSERT_TRUE(finish_video_writer(writer, error)) << error;

        clip_reader clip;
        ASSERT_TRUE(open_clip(path, clip, error)) << error;
        av_frame_ptr frame = make_av_frame();
        double seconds = 0.0;
        int32_t frames = 0;
        while (read_clip_frame(clip, frame.get(), seconds, error)) {
            EXPECT_EQ(frame->width, 96);
            EXPECT_EQ(frame->height, 64);
            ++frames;
            av_frame_unref(frame.get());
        }
        EXPECT_TRUE(error.empty()) << error;
        EXPECT_EQ(frames, 12) << path;
        EXPECT_NEAR(seconds, 11.0 / 30.0, 1e-3);
    }
}

TEST(MediaFiles, APngIsReadBackAsOnePicture) {
    const scratch_dir dir;
    std::string error;
    ASSERT_TRUE(write_png(dir.path + "/p.png", gradient(50, 30, 0), error)) << error;
    clip_reader clip;
    ASSERT_TRUE(open_clip(dir.path + "/p.png", clip, error)) << error;
    av_frame_ptr frame = make_av_frame();
    double seconds = 0.0;
    ASSERT_TRUE(read_clip_frame(clip, frame.get(), seconds, error)) << error;
    EXPECT_EQ(frame->width, 50);
    EXPECT_EQ(frame->height, 30);
}

TEST(MediaFiles, MissingAndUndecodableFilesAreRefusedWithTheirName) {
    const scratch_dir dir;
    std::string error;
    clip_reader missing;
    EXPECT_FALSE(open_clip(dir.path + "/none.mp4", missing, error));
    EXPECT_NE(error.find("none.mp4: no such file"), std::string::npos) << error;

    const std::string text = dir.path + "/notes.mp4";
    std::FILE *file = std::fopen(text.c_str(), "w");
    std::fputs("not a video at all\n", file);
    std::fclose(file);
    clip_reader garbage;
    error.clear();
    EXPECT_FALSE(open_clip(text, garbage, error));
    EXPECT_NE(error.find("notes.mp4"), std::string::npos) << error;
}

} // namespace
