// Prints the performance table from the rows the bench binaries appended to one
// file (their format is described in bench/bench_table.h): aligned for a
// terminal or as Markdown, followed by the goals met and not met.
//   perf_table ROWS            text
//   perf_table ROWS --markdown Markdown
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using cells = std::vector<std::string>;

std::string fixed(double value, int decimals, const char *unit = "") {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f%s", decimals, value, unit);
    return text;
}

// Three significant digits or so, in the unit that keeps the number readable.
std::string duration(double ns) {
    const double size = std::fabs(ns);
    if (size < 1e3)
        return fixed(ns, size < 100 ? 1 : 0, " ns");
    if (size < 1e6)
        return fixed(ns / 1e3, size < 1e4 ? 2 : 1, " µs");
    return size < 1e9 ? fixed(ns / 1e6, size < 1e7 ? 2 : 1, " ms") : fixed(ns / 1e9, 2, " s");
}

struct row {
    std::string group;
    cells shown; // measurement, time, baseline, baseline time, ratio, goal, verdict
};

// From group, measurement, baseline, time, baseline time, highest ratio, time limit, unit.
row read_row(const cells &f) {
    char *end = nullptr;
    const double ns = std::strtod(f[3].c_str(), &end);
    if (*end != '\0' || f[3].empty()) // "failed: why"
        return {f[0], {f[1], f[3], "-", "-", "-", "-", "-"}};
    const double base = std::strtod(f[4].c_str(), nullptr);
    const double max_ratio = std::strtod(f[5].c_str(), nullptr);
    const double max_ns = std::strtod(f[6].c_str(), nullptr);
    // A unit starting with '#' follows a count, not a time.
    const bool count = !f[7].empty() && f[7][0] == '#';
    const std::string unit = count ? f[7].substr(1) : f[7];
    const auto amount = [&](double t) {
        return count ? fixed(t, t == std::floor(t) ? 0 : 2) : duration(t);
    };
    const auto text = [&](double t) { return std::isfinite(t) ? amount(t) + unit : "-"; };
    const double ratio = ns / base;
    // Ratios near 1 carry their meaning in the third decimal (a 2 % goal).
    const int decimals = ratio >= 100 ? 0 : ratio >= 10 ? 1 : std::fabs(ratio - 1) <= 0.1 ? 3 : 2;
    row r{f[0],
          {f[1], text(ns), f[2], text(base), std::isfinite(ratio) ? fixed(ratio, decimals) : "-",
           "-", "-"}};
    char goal[64];
    if (max_ratio > 0 && std::isfinite(ratio)) {
        std::snprintf(goal, sizeof(goal), "ratio ≤ %g", max_ratio);
        r.shown[6] = ratio <= max_ratio ? "met" : "not met";
    } else if (max_ns > 0 && std::isfinite(ns)) {
        std::snprintf(goal, sizeof(goal), "< %s", amount(max_ns).c_str());
        r.shown[6] = ns < max_ns ? "met" : "not met";
    } else {
        return r;
    }
    r.shown[5] = goal;
    return r;
}

// One column per code point: µ, ×, → and ≤ are one each.
size_t columns(const std::string &text) {
    return std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

void print_line(const cells &shown, const std::vector<size_t> &widths, bool markdown) {
    std::string line = markdown ? "|" : "";
    for (size_t i = 0; i < shown.size(); ++i) {
        if (markdown)
            line += " " + shown[i] + " |";
        else
            line += shown[i] +
                    std::string(i + 1 < shown.size() ? widths[i] + 2 - columns(shown[i]) : 0, ' ');
    }
    std::printf("%s\n", line.c_str());
}

} // namespace

int main(int argc, char **argv) {
    const bool markdown = argc == 3 && std::strcmp(argv[2], "--markdown") == 0;
    std::ifstream in(argc > 1 ? argv[1] : "");
    if ((argc != 2 && !markdown) || !in) {
        std::fprintf(stderr, "usage: %s ROWS [--markdown], ROWS a readable file\n", argv[0]);
        return 2;
    }
    std::vector<row> rows;
    std::vector<std::string> groups; // in the order they first appear
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        cells fields(1);
        for (char c : line) {
            if (c == '\t')
                fields.emplace_back();
            else
                fields.back() += c;
        }
        if (line.empty())
            continue;
        if (fields.size() != 8) {
            std::fprintf(stderr, "perf_table: %s:%d is not a table row\n", argv[1], number);
            return 1;
        }
        rows.push_back(read_row(fields));
        if (std::find(groups.begin(), groups.end(), fields[0]) == groups.end())
            groups.push_back(fields[0]);
    }
    std::stable_sort(rows.begin(), rows.end(), [&](const row &a, const row &b) {
        return std::find(groups.begin(), groups.end(), a.group) <
               std::find(groups.begin(), groups.end(), b.group);
    });

    const cells header = {"Measurement", "Time", "Baseline", "Baseline time",
                          "Ratio",       "Goal", "Verdict"};
    std::vector<size_t> widths;
    for (size_t i = 0; i < header.size(); ++i) {
        widths.push_back(columns(header[i]));
        for (const row &r : rows)
            widths[i] = std::max(widths[i], columns(r.shown[i]));
    }
    print_line(header, widths, markdown);
    if (markdown)
        std::printf("|---|---:|---|---:|---:|---|---|\n");
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i == 0 || rows[i].group != rows[i - 1].group) {
            if (markdown)
                print_line({"**" + rows[i].group + "**", "", "", "", "", "", ""}, widths, true);
            else
                std::printf("\n[%s]\n", rows[i].group.c_str());
        }
        print_line(rows[i].shown, widths, markdown);
    }
    for (const char *verdict : {"met", "not met"}) {
        std::string list;
        int count = 0;
        for (const row &r : rows) {
            const cells &s = r.shown;
            if (s[6] != verdict)
                continue;
            ++count;
            list += (markdown ? "- " : "  ") + s[0] + (s[2] == "-" ? "" : " against " + s[2]) +
                    ": " + s[1] + (s[5].rfind("ratio", 0) == 0 ? ", ratio " + s[4] : "") +
                    " (goal " + s[5] + ")\n";
        }
        std::printf(markdown ? "\n**Goals %s** (%d):\n\n%s" : "\nGoals %s (%d):\n%s", verdict,
                    count, list.c_str());
    }
    return 0;
}
