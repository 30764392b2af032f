#include "run_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr float whole_fraction = 0.97f;  // wider than this counts as the whole frame
constexpr float follow_offset = 0.15f;   // of the wanted width
constexpr float follow_size_low = 0.75f; // crop width over wanted width
constexpr float follow_size_high = 1.33f;

float median(std::vector<float> values) {
    if (values.empty())
        return 0.0f;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    return values[middle];
}

std::string pixels(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.0f", static_cast<double>(value));
    return text;
}

// The filter's exact crop, to a tenth of a pixel.
std::string exact(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", static_cast<double>(value));
    return text;
}

} // namespace

filter_view view_of_crop(bool visible, double scale_x, double scale_y, double offset_x,
                         double offset_y, int32_t width, int32_t height) {
    const double w = static_cast<double>(width), h = static_cast<double>(height);
    return {visible, static_cast<float>(offset_x * w), static_cast<float>(offset_y * h),
            static_cast<float>(scale_x * w), static_cast<float>(scale_y * h)};
}

std::vector<second_summary> summarise_seconds(const std::vector<frame_record> &frames,
                                              int32_t source_width, int32_t source_height) {
    std::vector<second_summary> seconds;
    size_t i = 0;
    while (i < frames.size()) {
        second_summary s;
        s.second = static_cast<int32_t>(std::floor(frames[i].seconds));
        std::vector<float> margins_a, margins_b, sides_a, sides_b, offsets, ratios;
        double detect_total = 0.0;
        int32_t whole = 0, crop = 0, hidden = 0, zoomed_on_pair = 0;
        for (; i < frames.size() && static_cast<int32_t>(std::floor(frames[i].seconds)) == s.second;
             ++i) {
            const frame_record &f = frames[i];
            ++s.frames;
            detect_total += f.detect_ms;
            if (f.found_a) {
                ++s.frames_a;
                margins_a.push_back(f.margin_a);
                sides_a.push_back(f.side_a);
            }
            if (f.found_b) {
                ++s.frames_b;
                margins_b.push_back(f.margin_b);
                sides_b.push_back(f.side_b);
            }
            if (f.found_a && f.found_b)
                ++s.frames_both;
            const filter_view &v = f.view;
            const bool is_whole = v.width >= whole_fraction * static_cast<float>(source_width) &&
                                  v.height >= whole_fraction * static_cast<float>(source_height);
            if (!v.visible) {
                ++hidden;
            } else if (is_whole) {
                ++whole;
            } else {
                ++crop;
                s.crop = v;
            }
            if (v.visible && f.expected_valid && f.expected_w > 0.0f) {
                offsets.push_back(std::hypot(v.left + v.width * 0.5f - f.expected_x,
                                             v.top + v.height * 0.5f - f.expected_y) /
                                  f.expected_w);
                ratios.push_back(v.width / f.expected_w);
                if (!is_whole)
                    ++zoomed_on_pair;
            }
        }
        s.margin_a = median(margins_a);
        s.margin_b = median(margins_b);
        s.side_a = median(sides_a);
        s.side_b = median(sides_b);
        s.detect_ms = s.frames > 0 ? static_cast<float>(detect_total / s.frames) : 0.0f;
        const int32_t most = std::max({whole, crop, hidden});
        s.shows = most == crop    ? second_shows::crop
                  : most == whole ? second_shows::whole
                                  : second_shows::hidden;
        s.both_markers = 2 * s.frames_both >= s.frames;
        if (!offsets.empty()) {
            s.offset = median(offsets);
            const float ratio = median(ratios);
            s.following =
                s.both_markers && 2 * zoomed_on_pair >= static_cast<int32_t>(offsets.size()) &&
                s.offset <= follow_offset && ratio >= follow_size_low && ratio <= follow_size_high;
        }
        seconds.push_back(s);
    }
    return seconds;
}

run_totals total_up(const std::vector<second_summary> &seconds, int32_t frames,
                    int32_t late_frames) {
    run_totals t;
    t.seconds = static_cast<int32_t>(seconds.size());
    t.frames = frames;
    t.late_frames = late_frames;
    for (const second_summary &s : seconds) {
        t.both_markers += s.both_markers ? 1 : 0;
        t.following += s.following ? 1 : 0;
        t.zoomed += s.shows == second_shows::crop ? 1 : 0;
        t.whole += s.shows == second_shows::whole ? 1 : 0;
        t.hidden += s.shows == second_shows::hidden ? 1 : 0;
    }
    return t;
}

std::string summary_table(const std::vector<second_summary> &seconds) {
    std::string text =
        "  second  frames  seen A  seen B  margin A/B  size A/B px  detect  filter shows\n";
    for (const second_summary &s : seconds) {
        const std::string margins =
            (s.frames_a ? pixels(s.margin_a) : "-") + "/" + (s.frames_b ? pixels(s.margin_b) : "-");
        const std::string sides =
            (s.frames_a ? pixels(s.side_a) : "-") + "/" + (s.frames_b ? pixels(s.side_b) : "-");
        std::string shows;
        switch (s.shows) {
        case second_shows::whole:
            shows = "whole frame";
            break;
        case second_shows::hidden:
            shows = "nothing (hidden)";
            break;
        case second_shows::crop:
            shows = "crop " + exact(s.crop.width) + "x" + exact(s.crop.height) + " at " +
                    exact(s.crop.left) + "," + exact(s.crop.top);
            break;
        }
        if (s.shows == second_shows::crop && s.offset >= 0.0f) {
            char off[48];
            std::snprintf(off, sizeof(off), ", %.0f%% off the pair",
                          100.0 * static_cast<double>(s.offset));
            shows += off;
        }
        if (s.following)
            shows += ", following";
        char line[320];
        std::snprintf(line, sizeof(line), "  %3d-%-3d %6d  %6d  %6d  %10s  %11s  %3.0f ms  %s\n",
                      s.second, s.second + 1, s.frames, s.frames_a, s.frames_b, margins.c_str(),
                      sides.c_str(), static_cast<double>(s.detect_ms), shows.c_str());
        text += line;
    }
    return text;
}

std::string result_line(const run_totals &t) {
    char line[256];
    std::snprintf(line, sizeof(line),
                  "result seconds=%d both_markers=%d following=%d zoomed=%d whole=%d hidden=%d "
                  "frames=%d late_frames=%d",
                  t.seconds, t.both_markers, t.following, t.zoomed, t.whole, t.hidden, t.frames,
                  t.late_frames);
    return line;
}
