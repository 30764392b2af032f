// Frames no filter should have to see: every format value, sizes of zero and of 2^31 and more,
// missing planes, short pitches, huge widths. Each comes back unchanged, warns once in the
// filter's life (an unread format hands the source to the GPU intake instead, saying so), and
// tracking resumes on the next good frame. Rows `laid_out` are laid out as the host lays out its
// copies; the host never hands on the others, made over a plane of the row's bytes so that the
// sanitizers see reads past it.
#include "host_harness.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;

constexpr bool laid_out = true, as_given = false;
constexpr uint32_t big = 0x80000000u; // 2^31: negative as a signed size
const std::string dims = "Pinvale: ignored a frame with invalid dimensions";
const std::string plane = "Pinvale: ignored a frame with invalid plane data or stride";

struct bad_row {
    std::string what;
    bool laid_out;
    int format;
    uint32_t width, height;
    uint32_t linesize;    // frames as given: pitch of plane 0,
    uint64_t plane_bytes; // and its bytes (0: no plane)
    std::string warning;  // empty: the frame is usable
    std::string drawn{};  // the info line when the GPU intake takes the source over
};

// libobs's short names, and the newer host's for 22 to 25.
const char *const format_names[] = {
    "None", "I420", "NV12", "YVYU", "YUY2", "UYVY", "RGBA", "BGRA", "BGRX", "Y800", "I444",
    "BGR3", "I422", "I40A", "I42A", "YUVA", "AYUV", "I010", "P010", "I210", "I412", "YA2L",
    "P216", "P416", "v210", "R10l", "None", "None", "None", "None", "None",
};

std::vector<bad_row> bad_rows() {
    std::vector<bad_row> rows = {
        {"zero width", laid_out, VIDEO_FORMAT_NV12, 0, 54, 0, 0, dims},
        {"zero height", laid_out, VIDEO_FORMAT_BGRA, 96, 0, 0, 0, dims},
        {"zero size", laid_out, VIDEO_FORMAT_YUY2, 0, 0, 0, 0, dims},
        {"too tall to search", laid_out, VIDEO_FORMAT_Y800, 1, 40000, 0, 0, dims},
        {"100000 wide", laid_out, VIDEO_FORMAT_Y800, 100000, 2, 0, 0, ""},
        {"width 2^31", as_given, VIDEO_FORMAT_NV12, big, 54, 96, 4096, dims},
        {"height 2^31", as_given, VIDEO_FORMAT_BGRA, 96, big, 384, 4096, dims},
        {"2^32 - 1 each way", as_given, VIDEO_FORMAT_Y800, ~0u, ~0u, 96, 4096, dims},
        {"no plane, planar", as_given, VIDEO_FORMAT_NV12, 96, 54, 96, 0, plane},
        {"no plane, packed", as_given, VIDEO_FORMAT_BGRA, 96, 54, 384, 0, plane},
        {"no plane, 4:2:2", as_given, VIDEO_FORMAT_UYVY, 96, 54, 192, 0, plane},
        // Detected at the good frame's size: the refusal must not relabel its picture.
        {"pitch short, planar", as_given, VIDEO_FORMAT_I420, 960, 540, 959, 959 * 540, plane},
        {"pitch short, packed", as_given, VIDEO_FORMAT_RGBA, 96, 54, 383, 383 * 54, plane},
        {"pitch short of the last pair", as_given, VIDEO_FORMAT_YUY2, 95, 54, 190, 190 * 54, plane},
        {"pitch 0", as_given, VIDEO_FORMAT_Y800, 96, 54, 0, 4096, plane},
        {"pitch 2^31", as_given, VIDEO_FORMAT_BGRX, 96, 1, big, 4096, plane},
        {"rows of 2^31 bytes", as_given, VIDEO_FORMAT_BGRA, 1u << 29, 1, big, 4096, plane},
    };
    for (int format = 0; format <= 30; ++format) {
        const bool readable = (format >= 1 && format <= 10) || format == 12; // I420-I444, I422
        rows.push_back({"format " + std::to_string(format), laid_out, format, 96, 54, 0, 0, "",
                        readable ? ""
                                 : std::string("Pinvale: reading the picture as drawn (its raw "
                                               "frames are ") +
                                       format_names[format] +
                                       ", which the filter does not read directly)"});
    }
    return rows;
}

// A row's frame: laid out by the host's rule, or as the row says.
struct test_frame {
    std::unique_ptr<host_frame> laid_out;
    obs_source_frame given{};
    std::vector<uint8_t> plane;
    obs_source_frame *get() { return laid_out ? &laid_out->frame : &given; }
};

test_frame make_frame(const bad_row &row) {
    test_frame frame;
    if (row.laid_out) {
        const rgba_image picture(static_cast<int32_t>(row.width), static_cast<int32_t>(row.height));
        frame.laid_out =
            std::make_unique<host_frame>(static_cast<video_format>(row.format), picture);
        return frame;
    }
    frame.plane.assign(row.plane_bytes, 77);
    frame.given.format = static_cast<video_format>(row.format);
    frame.given.width = row.width;
    frame.given.height = row.height;
    frame.given.linesize[0] = row.linesize;
    frame.given.data[0] = row.plane_bytes ? frame.plane.data() : nullptr;
    return frame;
}

// Back as it went in: the same frame, header and plane 0.
bool comes_back_unchanged(filter_instance *instance, test_frame &frame) {
    obs_source_frame *sent = frame.get();
    const obs_source_frame header = *sent;
    const uint64_t bytes =
        frame.laid_out ? uint64_t{sent->linesize[0]} * sent->height : frame.plane.size();
    const std::vector<uint8_t> before(sent->data[0], sent->data[0] + bytes);
    return filter_video(instance, sent) == sent &&
           std::memcmp(&header, sent, sizeof(header)) == 0 &&
           std::equal(before.begin(), before.end(), sent->data[0]);
}

// Every frame due, detection quick; hiding, which an unusable frame overrides.
instance_ptr eager_instance() {
    data_ptr settings = default_settings();
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
    obs_data_set_double(settings.get(), key_detect_fps, 1e6);
    obs_data_set_int(settings.get(), key_detect_width, 480);
    return create_instance(settings.get());
}

// Each row's own filter meets its bad frame, a good one, and the bad one again. Another filter
// meets every row's: one warning of each kind.
TEST(BadInput, ComesBackUnchangedWarnsOnceAndTrackingResumes) {
    // A good frame with real markers, at the detection width.
    test_frame good{
        std::make_unique<host_frame>(
            VIDEO_FORMAT_NV12, tag_picture(tag_family_kind::tag16h5, tag_scene::pair, 480, 270)),
        {},
        {}};
    const instance_ptr every_row = eager_instance();
    const size_t start = log_mark();
    size_t frame_rows = 0;
    for (const bad_row &row : bad_rows()) {
        SCOPED_TRACE(row.what);
        test_frame bad = make_frame(row);
        EXPECT_TRUE(comes_back_unchanged(every_row.get(), bad));
        EXPECT_TRUE(comes_back_unchanged(every_row.get(), good));
        frame_rows += row.warning.starts_with("Pinvale: ignored");

        const instance_ptr instance = eager_instance();
        const auto target = [&] { return read_filter_state(*instance).status.target_valid; };
        const size_t mark = log_mark();
        for (const bool is_bad : {true, false, true}) {
            EXPECT_TRUE(comes_back_unchanged(instance.get(), is_bad ? bad : good));
            EXPECT_EQ(read_filter_state(*instance).frame_usable, !is_bad || row.warning.empty());
            EXPECT_TRUE(
                !row.warning.empty() ||
                read_filter_state(*instance).intake ==
                    (is_bad && !row.drawn.empty() ? intake_kind::drawn : intake_kind::raw_frames));
            video_tick(instance.get(), 1.0f / 30.0f);
            const crop_parameters crop = read_filter_state(*instance).crop;
            const crop_parameters whole = identity_crop();
            EXPECT_TRUE(!is_bad || row.warning.empty() || !std::memcmp(&crop, &whole, sizeof crop))
                << "an unusable frame is shown whole, even while hiding";
            EXPECT_TRUE(is_bad || wait_until(target, 10s)) << "no target after the bad frame";
            const filter_state in = read_filter_state(*instance);
            EXPECT_TRUE(!is_bad || row.warning.empty() || in.input_sequence == 0 ||
                        (in.input_source_width == 480 && in.input_source_height == 270))
                << "a refused frame relabelled the picture held";
        }
        // The row's warning, once in the filter's life, and no other; the GPU intake's line at
        // each change of intake.
        const size_t warned = row.warning.empty() ? 0 : 1;
        EXPECT_EQ(count_log_since(mark, LOG_WARNING, "Pinvale: "), warned);
        EXPECT_EQ(count_log_since(mark, LOG_WARNING, warned ? row.warning : "Pinvale: "), warned);
        const size_t drawn = row.drawn.empty() ? 0 : 2;
        EXPECT_EQ(count_log_since(mark, LOG_INFO, "Pinvale: reading the picture as drawn"), drawn);
        EXPECT_EQ(count_log_since(mark, LOG_INFO, drawn ? row.drawn : "Pinvale: reading the p"),
                  drawn);
    }
    EXPECT_EQ(count_log_since(start, LOG_WARNING, "Pinvale: ignored a frame "), frame_rows + 1)
        << "the two frame messages share one flag";
    EXPECT_EQ(filter_video(nullptr, good.get()), good.get());
    EXPECT_EQ(filter_video(every_row.get(), nullptr), nullptr);
}

TEST(FrameIntake, SteadyStateAllocatesNothing) {
    const instance_ptr instance = create_instance(default_settings().get());
    host_frame frame(VIDEO_FORMAT_BGRA, rgba_image(320, 180));
    const auto push_due = [&] {
        instance->intake.gate.next_detect_ns = 0; // a restarted schedule: the frame is due
        filter_video(instance.get(), &frame.frame);
    };
    push_due();
    wait_for_quiet_host();
    const long before = bnum_allocs();
    for (int i = 0; i < 1000; ++i)
        push_due();
    EXPECT_EQ(bnum_allocs(), before);
}

TEST(EnsureDetectionFrame, ReusesAFittingBufferAndReplacesOthers) {
    const long allocs = bnum_allocs();
    {
        detection_frame frame;
        ASSERT_TRUE(ensure_detection_frame(frame, 4, 3));
        EXPECT_EQ(frame.stride, 4);
        EXPECT_EQ(std::vector<uint8_t>(frame.data.get(), frame.data.get() + 12),
                  std::vector<uint8_t>(12, 0));
        const uint8_t *first = frame.data.get();
        frame.data[5] = 9;
        frame.sequence = 7;
        ASSERT_TRUE(ensure_detection_frame(frame, 4, 3));
        EXPECT_EQ(frame.data.get(), first) << "a fitting buffer is kept, contents and all";
        EXPECT_EQ(frame.data[5], 9);
        EXPECT_EQ(frame.sequence, 7u);

        frame.source_width = 40;
        ASSERT_TRUE(ensure_detection_frame(frame, 3, 4));
        EXPECT_EQ(frame.width, 3);
        EXPECT_EQ(frame.sequence, 0u) << "a new buffer holds no picture";
        EXPECT_EQ(frame.source_width, 0);
        for (const auto &[w, h] : {std::pair{0, 3}, {3, -1}, {-5, 2}})
            EXPECT_FALSE(ensure_detection_frame(frame, w, h));
        EXPECT_EQ(frame.width, 3) << "a refusal leaves the frame as it was";
    }
    EXPECT_EQ(bnum_allocs(), allocs);
}

} // namespace
