#pragma once

// One line of the performance table: a measurement, its baseline measured in the
// same run, their ratio and the goal when there is one. The bench binaries write
// rows one per line, tab-separated, and tools/perf_table reads them back to print
// one table for all of them; both sides use this header so the format has one home.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

struct table_row {
    std::string group;
    std::string measurement;
    std::string value;
    std::string baseline; // empty when the measurement stands alone
    std::string baseline_value;
    double ratio = std::numeric_limits<double>::quiet_NaN(); // value / baseline
    std::string goal;                                        // empty when there is none
    std::string verdict;                                     // "met", "not met" or empty
};

inline std::string format_fixed(double value, int decimals, const char *unit = "") {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f%s", decimals, value, unit);
    return text;
}

// Shortest form, as printf's %g gives it.
inline std::string format_short(double value, int digits = 6) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*g", digits, value);
    return text;
}

// Three significant digits or so, in the unit that keeps the number readable.
inline std::string format_duration_ns(double ns) {
    if (!std::isfinite(ns))
        return "-";
    const double magnitude = std::fabs(ns);
    if (magnitude < 100.0)
        return format_fixed(ns, 1, " ns");
    if (magnitude < 1e3)
        return format_fixed(ns, 0, " ns");
    if (magnitude < 1e4)
        return format_fixed(ns / 1e3, 2, " µs");
    if (magnitude < 1e6)
        return format_fixed(ns / 1e3, 1, " µs");
    if (magnitude < 1e7)
        return format_fixed(ns / 1e6, 2, " ms");
    if (magnitude < 1e9)
        return format_fixed(ns / 1e6, 1, " ms");
    return format_fixed(ns / 1e9, 2, " s");
}

// Ratios near 1 carry their meaning in the third decimal (a 2 % overhead goal).
inline std::string format_ratio(double ratio) {
    if (!std::isfinite(ratio))
        return "-";
    if (ratio >= 100.0)
        return format_fixed(ratio, 0);
    if (ratio >= 10.0)
        return format_fixed(ratio, 1);
    if (ratio >= 0.9 && ratio <= 1.1)
        return format_fixed(ratio, 3);
    if (ratio >= 0.01)
        return format_fixed(ratio, 2);
    return format_short(ratio, 2);
}

// Tabs and line breaks would split the line; the texts are ours, so a space will do.
inline std::string row_field(std::string text) {
    for (char &c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

inline std::string encode_row(const table_row &row) {
    std::string line;
    for (const std::string *field :
         {&row.group, &row.measurement, &row.value, &row.baseline, &row.baseline_value}) {
        line += row_field(*field);
        line += '\t';
    }
    line += std::isfinite(row.ratio) ? format_short(row.ratio, 17) : "-";
    line += '\t';
    line += row_field(row.goal);
    line += '\t';
    line += row_field(row.verdict);
    return line;
}

inline bool decode_row(const std::string &line, table_row &row) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '\t')
            fields.emplace_back();
        else if (c != '\n' && c != '\r')
            fields.back() += c;
    }
    if (fields.size() != 8)
        return false;
    row.group = fields[0];
    row.measurement = fields[1];
    row.value = fields[2];
    row.baseline = fields[3];
    row.baseline_value = fields[4];
    char *end = nullptr;
    const double ratio = std::strtod(fields[5].c_str(), &end);
    row.ratio = end && *end == '\0' && !fields[5].empty()
                    ? ratio
                    : std::numeric_limits<double>::quiet_NaN();
    row.goal = fields[6];
    row.verdict = fields[7];
    return true;
}

// Display width of UTF-8 text: one column per code point (µ, ×, → and ≤ are one each).
inline size_t text_columns(const std::string &text) {
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

inline std::vector<std::string> row_cells(const table_row &row) {
    return {row.measurement,
            row.value,
            row.baseline.empty() ? "-" : row.baseline,
            row.baseline_value.empty() ? "-" : row.baseline_value,
            format_ratio(row.ratio),
            row.goal.empty() ? "-" : row.goal,
            row.verdict.empty() ? "-" : row.verdict};
}

inline const std::vector<std::string> &table_header() {
    static const std::vector<std::string> header = {
        "Measurement", "Time", "Baseline", "Baseline time", "Ratio", "Goal", "Verdict"};
    return header;
}

// Aligned columns for a terminal, each group under its own heading line.
inline void print_text_table(std::FILE *out, const std::vector<table_row> &rows) {
    std::vector<size_t> widths;
    for (const std::string &cell : table_header())
        widths.push_back(text_columns(cell));
    for (const table_row &row : rows) {
        const std::vector<std::string> cells = row_cells(row);
        for (size_t i = 0; i < cells.size(); ++i)
            widths[i] = std::max(widths[i], text_columns(cells[i]));
    }
    const auto print_line = [&](const std::vector<std::string> &cells) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size())
                line += std::string(widths[i] - text_columns(cells[i]) + 2, ' ');
        }
        std::fprintf(out, "%s\n", line.c_str());
    };
    print_line(table_header());
    std::string group;
    for (const table_row &row : rows) {
        if (row.group != group) {
            group = row.group;
            std::fprintf(out, "\n[%s]\n", group.c_str());
        }
        print_line(row_cells(row));
    }
}

inline std::string markdown_cell(const std::string &text) {
    std::string cell;
    for (char c : text) {
        if (c == '|')
            cell += '\\';
        cell += c;
    }
    return cell;
}

// One Markdown table; each group opens with a bold row of its own.
inline void print_markdown_table(std::FILE *out, const std::vector<table_row> &rows) {
    const std::vector<std::string> &header = table_header();
    const auto print_cells = [out](const std::vector<std::string> &cells) {
        std::string line = "|";
        for (const std::string &cell : cells)
            line.append(" ").append(markdown_cell(cell)).append(" |");
        std::fprintf(out, "%s\n", line.c_str());
    };
    print_cells(header);
    std::string rule = "|";
    for (size_t i = 0; i < header.size(); ++i)
        rule.append(i == 1 || i == 3 || i == 4 ? "---:|" : "---|");
    std::fprintf(out, "%s\n", rule.c_str());
    std::string group;
    for (const table_row &row : rows) {
        if (row.group != group) {
            group = row.group;
            std::vector<std::string> heading(header.size());
            heading[0] = "**" + group + "**";
            print_cells(heading);
        }
        print_cells(row_cells(row));
    }
}
