// Frames no filter should have to see, end to end: every format value, sizes
// that are zero or negative, missing planes, short pitches and huge widths.
// Each must come back untouched, warn once in the filter's life, and leave
// tracking to resume with the next good frame.
//
// Which way each frame goes, from what libobs 29 was seen to do with it:
// - through the host (obs_source_output_video on a source the filter is
//   attached to) whenever the host hands such a frame to filters at all. It
//   does for every format value; for 0 and for 22 and up, which it has no
//   layout for, it allocates and copies no planes, so filters see null
//   planes. It does for zero sizes, after logging an error about a 0-byte
//   allocation. It hands frames to filters from its next tick, on its
//   graphics thread, so a push waits for a probe filter behind ours.
// - straight into the tests' own copy of the filter (filter_video with a
//   frame made here) where the host never hands it on: it copies every frame
//   into one of its own, laid out by format and size with its own pitch, so a
//   short pitch never reaches a filter; a null plane crashes the host's copy;
//   sizes of 2^31 and more make its 32-bit size sums wrap (2^31 x 2^31 gives
//   an empty copy that it then overruns, a crash) or cost gigabytes; and huge
//   widths would have it copy gigabytes.
#include "detect/detector_setup.h"
#include "filter/settings_keys.h"
#include "filter_fixture.h"
#include "frame_probe.h"
#include "host_environment.h"
#include "host_frame.h"
#include "test_source.h"
#include "tag_scenes.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

enum class route { host, direct };

constexpr uint32_t negative = 0x80000000u; // -2^31 as the filter reads a size
constexpr char invalid_dimensions[] = "Pinvale: ignored a frame with invalid dimensions";
constexpr char invalid_plane[] = "Pinvale: ignored a frame with invalid plane data or stride";

struct bad_input {
    std::string what;
    route path;
    int format;
    uint32_t width;
    uint32_t height;
    // Direct frames only: pitch of plane 0, and how many bytes of plane there
    // are (0: no plane), ending right before an inaccessible page.
    uint32_t linesize;
    uint64_t plane_bytes;
    std::optional<std::string> warning; // none: the frame is usable
};

// libobs's short names, and the newer host's for 22 to 25.
const char *const format_names[] = {
    "None", "I420", "NV12", "YVYU", "YUY2", "UYVY", "RGBA", "BGRA", "BGRX", "Y800", "I444",
    "BGR3", "I422", "I40A", "I42A", "YUVA", "AYUV", "I010", "P010", "I210", "I412", "YA2L",
    "P216", "P416", "v210", "R10l", "None", "None", "None", "None", "None",
};
constexpr int read_formats[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12};

std::vector<bad_input> bad_inputs() {
    std::vector<bad_input> rows;
    for (int format = 0; format <= 30; ++format) {
        const bool read = std::find(std::begin(read_formats), std::end(read_formats), format) !=
                          std::end(read_formats);
        rows.push_back({"format " + std::to_string(format), route::host, format, 96, 54, 0, 0,
                        read ? std::nullopt
                             : std::optional<std::string>(
                                   std::string("Pinvale: unsupported video format ") +
                                   format_names[format] + "; tracking remains pass-through")});
    }
    const std::vector<bad_input> others = {
        {"zero width", route::host, VIDEO_FORMAT_NV12, 0, 54, 0, 0, invalid_dimensions},
        {"zero height", route::host, VIDEO_FORMAT_BGRA, 96, 0, 0, 0, invalid_dimensions},
        {"zero size", route::host, VIDEO_FORMAT_YUY2, 0, 0, 0, 0, invalid_dimensions},
        {"too tall to search", route::host, VIDEO_FORMAT_Y800, 1, 40000, 0, 0, invalid_dimensions},
        {"100000 wide", route::host, VIDEO_FORMAT_Y800, 100000, 2, 0, 0, std::nullopt},
        {"negative width", route::direct, VIDEO_FORMAT_NV12, negative, 54, 96, 4096,
         invalid_dimensions},
        {"negative height", route::direct, VIDEO_FORMAT_BGRA, 96, negative, 384, 4096,
         invalid_dimensions},
        {"width -1 and height -1", route::direct, VIDEO_FORMAT_Y800, 0xffffffffu, 0xffffffffu, 96,
         4096, invalid_dimensions},
        {"no plane, planar", route::direct, VIDEO_FORMAT_NV12, 96, 54, 96, 0, invalid_plane},
        {"no plane, packed", route::direct, VIDEO_FORMAT_BGRA, 96, 54, 384, 0, invalid_plane},
        {"no plane, 4:2:2", route::direct, VIDEO_FORMAT_UYVY, 96, 54, 192, 0, invalid_plane},
        {"pitch a byte short, planar", route::direct, VIDEO_FORMAT_I420, 96, 54, 95, 95 * 54,
         invalid_plane},
        {"pitch a byte short, packed", route::direct, VIDEO_FORMAT_RGBA, 96, 54, 383, 383 * 54,
         invalid_plane},
        {"pitch short of the last pair", route::direct, VIDEO_FORMAT_YUY2, 95, 54, 190, 190 * 54,
         invalid_plane},
        {"pitch 0", route::direct, VIDEO_FORMAT_Y800, 96, 54, 0, 4096, invalid_plane},
        {"pitch 2^31", route::direct, VIDEO_FORMAT_BGRX, 96, 1, negative, 4096, invalid_plane},
        {"rows of 2^31 bytes", route::direct, VIDEO_FORMAT_BGRA, 1u << 29, 1, negative, 4096,
         invalid_plane},
        {"2^31 - 1 wide", route::direct, VIDEO_FORMAT_Y800, 0x7fffffffu, 1, 0x7fffffffu,
         0x7fffffffu, std::nullopt},
        {"2^29 - 1 wide, packed", route::direct, VIDEO_FORMAT_BGRA, (1u << 29) - 1, 1, 0x7ffffffcu,
         0x7ffffffcu, std::nullopt},
    };
    rows.insert(rows.end(), others.begin(), others.end());
    return rows;
}

// Bytes that end right before an inaccessible page, so that reading one byte
// too far faults. Large ones are read-only zero pages that cost no memory.
class plane_mapping {
public:
    explicit plane_mapping(uint64_t bytes) {
        const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
        const uint64_t span = (bytes + page - 1) / page * page;
        size_ = span + page;
        const bool small = bytes <= (64u << 20);
        void *mapped = mmap(nullptr, size_, small ? PROT_READ | PROT_WRITE : PROT_READ,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED)
            return;
        base_ = static_cast<uint8_t *>(mapped);
        mprotect(base_ + span, page, PROT_NONE);
        data_ = base_ + span - bytes;
        if (small) {
            for (uint64_t i = 0; i < bytes; ++i)
                data_[i] = static_cast<uint8_t>(i * 7 + i / 251);
            bytes_ = bytes;
        }
    }
    ~plane_mapping() {
        if (base_)
            munmap(base_, size_);
    }
    plane_mapping(const plane_mapping &) = delete;
    plane_mapping &operator=(const plane_mapping &) = delete;

    uint8_t *data() const { return data_; }
    // Sum of the bytes the test wrote; the large read-only ones cannot change.
    uint64_t checksum() const {
        uint64_t sum = 0;
        for (uint64_t i = 0; i < bytes_; ++i)
            sum = sum * 31 + data_[i];
        return sum;
    }

private:
    uint8_t *base_ = nullptr;
    uint8_t *data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t bytes_ = 0;
};

gray_image pattern(uint32_t width, uint32_t height) {
    gray_image image(static_cast<int>(width), static_cast<int>(height), 0);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<uint8_t>(i * 13 + i / 97);
    return image;
}

// A row's frame, as the host would lay it out or as the row describes it;
// or a picture in the host's layout.
class test_frame {
public:
    test_frame(int format, const gray_image &picture)
        : laid_out_(std::make_unique<host_frame>(format, picture)) {}
    explicit test_frame(const bad_input &row) {
        if (row.path == route::host) {
            laid_out_ = std::make_unique<host_frame>(row.format, pattern(row.width, row.height));
            return;
        }
        frame_.format = static_cast<video_format>(row.format);
        frame_.width = row.width;
        frame_.height = row.height;
        frame_.linesize[0] = row.linesize;
        if (row.plane_bytes > 0) {
            plane_ = std::make_unique<plane_mapping>(row.plane_bytes);
            frame_.data[0] = plane_->data();
        }
    }
    obs_source_frame *get() { return laid_out_ ? laid_out_->get() : &frame_; }
    bool ready() const { return laid_out_ || !plane_ || plane_->data(); }
    // Of the bytes behind plane 0.
    uint64_t checksum() const {
        return laid_out_ ? plane0_checksum(laid_out_->get()) : plane_ ? plane_->checksum() : 0;
    }

private:
    std::unique_ptr<host_frame> laid_out_;
    obs_source_frame frame_{};
    std::unique_ptr<plane_mapping> plane_;
};

// Every frame due, and a detection small enough to be quick.
data_ptr eager_settings() {
    data_ptr settings = default_settings();
    obs_data_set_double(settings.get(), key_detect_fps, 1e6);
    obs_data_set_int(settings.get(), key_detect_width, 480);
    return settings;
}

// One filter, reached the way a row says.
class filter_under_test {
public:
    virtual ~filter_under_test() = default;
    // Hands the frame over; true when it came back as it went in.
    virtual bool push(test_frame &frame) = 0;
    virtual filter_instance *instance() = 0;

    bool usable() {
        filter_instance *in = instance();
        return read_locked<bool>(in->frame_mutex, [&] { return in->frame_usable; });
    }
    bool target_published() {
        filter_instance *in = instance();
        return read_locked<bool>(in->frame_mutex, [&] { return in->target_valid; });
    }
};

// The real filter from the loaded module on a source of the tests' own,
// between two probes: what the second sees is what the filter gave back.
class host_filter : public filter_under_test {
public:
    host_filter()
        : source_(create_test_source("bad input")), before_(create_frame_probe("before", true)),
          filter_(
              obs_source_create_private("pinvaler_filter", "bad input", eager_settings().get())),
          after_(create_frame_probe("after", true)) {
        // Filters added first see frames first.
        for (obs_source_t *filter : {before_, filter_, after_})
            obs_source_filter_add(source_, filter);
    }
    ~host_filter() override {
        for (obs_source_t *filter : {before_, filter_, after_}) {
            obs_source_filter_remove(source_, filter);
            obs_source_release(filter);
        }
        obs_source_release(source_);
        obs_wait_for_destroy_queue();
    }
    // The host copies the frame here and hands its copy to the filters in its
    // next tick, on its graphics thread: this waits for the last probe.
    bool push(test_frame &frame) override {
        const uint64_t seen = probe_count(after_);
        obs_source_output_video(source_, frame.get());
        if (!wait_until([&] { return probe_count(after_) > seen; }, 5s))
            return false;
        const frame_sighting in = probe_last(before_);
        const frame_sighting out = probe_last(after_);
        return in.frame != nullptr && same_sighting(in, out);
    }
    filter_instance *instance() override {
        return static_cast<filter_instance *>(obs_obj_get_data(filter_));
    }

private:
    obs_source_t *source_;
    obs_source_t *before_;
    obs_source_t *filter_;
    obs_source_t *after_;
};

// The tests' own copy of the filter, handed the frame as it is.
class direct_filter : public filter_under_test {
public:
    direct_filter() : instance_(create_instance(eager_settings().get())) {}
    bool push(test_frame &frame) override {
        obs_source_frame *sent = frame.get();
        const obs_source_frame header = *sent;
        const uint64_t bytes = frame.checksum();
        return filter_video(instance_.get(), sent) == sent &&
               std::memcmp(&header, sent, sizeof(header)) == 0 && frame.checksum() == bytes;
    }
    filter_instance *instance() override { return instance_.get(); }

private:
    instance_ptr instance_;
};

std::vector<std::pair<int, std::string>> our_lines_since(size_t mark) {
    std::vector<std::pair<int, std::string>> ours;
    for (const log_line &line : captured_log_since(mark))
        if (line.text.rfind("Pinvale: ", 0) == 0)
            ours.push_back({line.level, line.text});
    return ours;
}

// A good frame with real markers, at the detection width.
test_frame marker_frame() {
    apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
    const scene_picture scene = make_tag_scene(family, tag_scene::pair, 480, 270);
    destroy_tag_family(family, tag_family_tag16h5);
    return test_frame(VIDEO_FORMAT_NV12, scene.image);
}

std::unique_ptr<filter_under_test> filter_for(route path) {
    if (path == route::host)
        return std::make_unique<host_filter>();
    return std::make_unique<direct_filter>();
}

TEST(BadInput, ComesBackUnchangedWarnsOnceAndTrackingResumes) {
    test_frame good = marker_frame();
    for (const bad_input &row : bad_inputs()) {
        SCOPED_TRACE(row.what + (row.path == route::host ? ", through the host"
                                                         : ", straight into the filter"));
        std::unique_ptr<filter_under_test> filter = filter_for(row.path);
        test_frame bad(row);
        ASSERT_TRUE(bad.ready());
        const size_t mark = log_mark();
        std::vector<std::pair<int, std::string>> expected;
        if (row.warning)
            expected.push_back({LOG_WARNING, *row.warning});

        EXPECT_TRUE(filter->push(bad)) << "the frame did not come back as it went in";
        EXPECT_EQ(filter->usable(), !row.warning);
        EXPECT_EQ(our_lines_since(mark), expected);

        EXPECT_TRUE(filter->push(good));
        EXPECT_TRUE(filter->usable());
        EXPECT_TRUE(wait_until([&] { return filter->target_published(); }, 10s))
            << "no target from the markers after the bad frame";

        EXPECT_TRUE(filter->push(bad));
        EXPECT_EQ(filter->usable(), !row.warning);
        EXPECT_EQ(our_lines_since(mark), expected) << "warned again later in the filter's life";
    }
}

// One filter meets every kind of bad frame in turn, each followed by a good
// one: one warning for formats, one for the frame messages together.
TEST(BadInput, OneFilterWarnsOncePerKindWhateverComes) {
    test_frame good = marker_frame();
    direct_filter filter;
    const size_t mark = log_mark();
    for (const bad_input &row : bad_inputs()) {
        SCOPED_TRACE(row.what);
        test_frame bad(row);
        ASSERT_TRUE(bad.ready());
        EXPECT_TRUE(filter.push(bad));
        EXPECT_EQ(filter.usable(), !row.warning);
        EXPECT_TRUE(filter.push(good));
        EXPECT_TRUE(filter.usable());
    }
    const std::vector<std::pair<int, std::string>> expected = {
        {LOG_WARNING, "Pinvale: unsupported video format None; tracking remains pass-through"},
        {LOG_WARNING, invalid_dimensions},
    };
    EXPECT_EQ(our_lines_since(mark), expected);
    EXPECT_TRUE(wait_until([&] { return filter.target_published(); }, 10s));
}

} // namespace
