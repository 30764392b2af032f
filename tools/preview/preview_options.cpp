#include "preview_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

bool read_number(const std::string &text, double &out) {
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

bool read_integer(const std::string &text, int32_t &out) {
    double value = 0.0;
    if (!read_number(text, value) || value != std::floor(value) || std::fabs(value) > 1e9)
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

// The filter keeps its rates and lengths as floats.
bool read_float(const std::string &text, float &out) {
    double value = 0.0;
    if (!read_number(text, value) || std::fabs(value) > 1e30)
        return false;
    out = static_cast<float>(value);
    return true;
}

bool read_size(const std::string &text, int32_t &width, int32_t &height) {
    const size_t x = text.find('x');
    return x != std::string::npos && read_integer(text.substr(0, x), width) &&
           read_integer(text.substr(x + 1), height);
}

struct option_entry {
    const char *name;
    bool takes_value;
    // Returns an empty string when the value was taken, else what is wrong with it.
    std::function<std::string(preview_options &, const std::string &)> apply;
};

std::string need_range(bool ok, const std::string &what) {
    return ok ? std::string() : what;
}

const std::vector<option_entry> &option_table() {
    static const std::vector<option_entry> table = {
        {"--input", true,
         [](preview_options &o, const std::string &v) {
             o.input = v;
             return need_range(!v.empty(), "needs a file name");
         }},
        {"--size", true,
         [](preview_options &o, const std::string &v) {
             const bool ok = read_size(v, o.scene_width, o.scene_height) && o.scene_width >= 160 &&
                             o.scene_height >= 90 && o.scene_width <= 3840 &&
                             o.scene_height <= 2160 && o.scene_width % 2 == 0 &&
                             o.scene_height % 2 == 0;
             return need_range(ok, "must be WIDTHxHEIGHT, even numbers from 160x90 to 3840x2160");
         }},
        {"--seconds", true,
         [](preview_options &o, const std::string &v) {
             return need_range(read_number(v, o.seconds) && o.seconds >= 1.0 && o.seconds <= 3600,
                               "must be a number of seconds from 1 to 3600");
         }},
        {"--out", true,
         [](preview_options &o, const std::string &v) {
             o.out_dir = v;
             return need_range(!v.empty(), "needs a folder name");
         }},
        {"--module", true,
         [](preview_options &o, const std::string &v) {
             o.module_path = v;
             return need_range(!v.empty(), "needs the path of pinvaler-filter.so");
         }},
        {"--data", true,
         [](preview_options &o, const std::string &v) {
             o.data_dir = v;
             return need_range(!v.empty(), "needs the plug-in's data folder");
         }},
        {"--family", true,
         [](preview_options &o, const std::string &v) {
             if (v == "tag16h5") {
                 o.filter.tag_family = tag_family_kind::tag16h5;
             } else if (v == "circle21h7" || v == "tagCircle21h7") {
                 o.filter.tag_family = tag_family_kind::circle21h7;
             } else {
                 return std::string("must be tag16h5 or circle21h7");
             }
             return std::string();
         }},
        {"--ids", true,
         [](preview_options &o, const std::string &v) {
             const size_t comma = v.find(',');
             int32_t &a = o.filter.tag_id_a, &b = o.filter.tag_id_b;
             const bool ok = comma != std::string::npos && read_integer(v.substr(0, comma), a) &&
                             read_integer(v.substr(comma + 1), b) && (a == 0 || a == 1) &&
                             (b == 0 || b == 1) && a != b;
             return need_range(ok, "must be 0,1 or 1,0 (the ids of tag A and tag B)");
         }},
        {"--detect-width", true,
         [](preview_options &o, const std::string &v) {
             int32_t &w = o.filter.detect_width;
             return need_range(read_integer(v, w) && w >= detect_width_min && w <= detect_width_max,
                               "must be a width from " + std::to_string(detect_width_min) + " to " +
                                   std::to_string(detect_width_max));
         }},
        {"--detect-fps", true,
         [](preview_options &o, const std::string &v) {
             float &fps = o.filter.detect_fps;
             return need_range(read_float(v, fps) && fps >= 1.0f && fps <= 120.0f,
                               "must be a rate from 1 to 120");
         }},
        {"--half-life-ms", true,
         [](preview_options &o, const std::string &v) {
             float &ms = o.filter.follow_half_life_ms;
             return need_range(read_float(v, ms) && ms >= 0.0f && ms <= 60000.0f,
                               "must be milliseconds from 0 to 60000");
         }},
        {"--padding", true,
         [](preview_options &o, const std::string &v) {
             float &px = o.filter.padding;
             return need_range(read_float(v, px) && px >= 0.0f && px <= 10000.0f,
                               "must be pixels from 0 to 10000");
         }},
        {"--hide-without-both", false,
         [](preview_options &o, const std::string &) {
             o.filter.hide_without_both_tags = true;
             return std::string();
         }},
        {"--perf", false,
         [](preview_options &o, const std::string &) {
             o.filter.perf_diagnostics = true;
             return std::string();
         }},
        {"--gpu-source", false,
         [](preview_options &o, const std::string &) {
             o.gpu_source = true;
             return std::string();
         }},
        {"--no-window-search", false,
         [](preview_options &o, const std::string &) {
             o.filter.window_search = false;
             return std::string();
         }},
        {"--fast", false,
         [](preview_options &o, const std::string &) {
             o.fast = true;
             return std::string();
         }},
        {"--host-log", false,
         [](preview_options &o, const std::string &) {
             o.host_log = true;
             return std::string();
         }},
        {"--check", true,
         [](preview_options &o, const std::string &v) {
             o.check_file = v;
             return need_range(!v.empty(), "needs a file name");
         }},
        {"--help", false,
         [](preview_options &o, const std::string &) {
             o.help = true;
             return std::string();
         }},
    };
    return table;
}

} // namespace

const char *family_name(tag_family_kind family) {
    return family == tag_family_kind::circle21h7 ? "tagCircle21h7" : "tag16h5";
}

options_result parse_preview_options(const std::vector<std::string> &args) {
    options_result result;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inline_value = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inline_value = true;
        }
        if (name == "-h")
            name = "--help";
        const option_entry *entry = nullptr;
        for (const option_entry &candidate : option_table())
            if (name == candidate.name)
                entry = &candidate;
        if (entry == nullptr) {
            result.error = "unknown option " + args[i] + " (see --help)";
            return result;
        }
        if (entry->takes_value && !inline_value) {
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        } else if (!entry->takes_value && inline_value) {
            result.error = name + " takes no value";
            return result;
        }
        const std::string problem = entry->apply(result.options, value);
        if (!problem.empty()) {
            result.error = name + " " + problem;
            return result;
        }
    }
    result.ok = true;
    return result;
}

std::string preview_usage(const std::string &program) {
    const settings_snapshot &d = default_settings_snapshot;
    char filter_help[1024];
    std::snprintf(filter_help, sizeof(filter_help), R"(Filter settings (the filter's defaults):
  --family NAME         tag16h5 or circle21h7 (default %s)
  --ids A,B             ids of tag A and tag B: 0,1 or 1,0 (default %d,%d)
  --detect-width N      width of the detection image, %d..%d (default %d)
  --detect-fps N        detections per second (default %g)
  --half-life-ms N      how quickly the crop follows, ms (default %g)
  --padding N           extra inset of the crop, source pixels (default %g)
  --hide-without-both   hide the output while the two markers are not both seen
  --perf                the filter's diagnostics: its own line every 5 s
  --no-window-search    search the whole picture every pass, never only near
                        the markers
)",
                  family_name(d.tag_family), d.tag_id_a, d.tag_id_b, detect_width_min,
                  detect_width_max, d.detect_width, static_cast<double>(d.detect_fps),
                  static_cast<double>(d.follow_half_life_ms), static_cast<double>(d.padding));
    return "Usage: " + program + R"( [options]

Runs the Pinvale Marker Zoom filter inside the real OBS host (headless) over a
built-in test scene or your own clip, and writes what it did.

Input:
  --input FILE          a video file (anything FFmpeg decodes); default: the
                        built-in scene, two markers that move, tilt, get covered
                        and leave the picture
  --size WxH            size of the built-in scene (default 1280x720)
  --seconds N           length of the built-in scene (default 12), or how much
                        of the clip to use (default: all of it)
  --gpu-source          show the input as a picture drawn on the GPU, as an
                        image, capture or browser source is, instead of raw
                        frames pushed like a camera's: the filter then reads
                        the picture back from the GPU

)" + filter_help +
           R"(
Running:
  --fast                do not pace the frames at the clip's frame rate. The
                        filter detects at --detect-fps of wall-clock time and
                        follows at --half-life-ms of wall-clock time, so when the
                        frames come faster than real time it detects fewer frames
                        per clip second and the crop lags more than it would live
  --module PATH         the plug-in to load (default: the one built with this
                        tool); e.g. ~/.config/obs-studio/plugins/pinvaler-filter/
                        bin/64bit/pinvaler-filter.so
  --data DIR            its data folder (default: next to an installed module,
                        else the repository's data/)
  --out DIR             where the outputs go (default preview-out)
  --host-log            show the host's whole log

Outputs (in --out):
  side-by-side.mp4      left: the input with the markers as found by the same
                        detection settings; yellow: where the filter is looking.
                        right: what the filter rendered
  contact-sheet.png     six moments of it
  A summary per second on the terminal; its last line is machine-readable.

Other:
  --check FILE          decode a video or picture file, say what it holds, exit
  --help                this text

The host needs an X display; without DISPLAY the tool restarts itself under
xvfb-run when that is installed.

Exit status: 0 done; 1 the host failed while running; 2 bad command line;
3 missing or undecodable input; 4 the output folder cannot be written;
5 the plug-in did not load, the filter could not be created, or no display;
130 interrupted.
)";
}
