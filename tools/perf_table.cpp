// Prints the performance table from the rows the bench binaries appended to one
// file (tab-separated: group, measurement, value, baseline, baseline value,
// ratio, goal, verdict), aligned for a terminal or as Markdown, followed by the
// goals met and not met.
//   perf_table ROWS            text
//   perf_table ROWS --markdown Markdown
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using row = std::vector<std::string>; // the eight fields
const row header = {"Measurement", "Time", "Baseline", "Baseline time", "Ratio", "Goal", "Verdict"};

// One column per code point: µ, ×, → and ≤ are one each.
size_t columns(const std::string &text) {
    return std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

void print_line(const row &cells, const std::vector<size_t> &widths, bool markdown) {
    std::string line = markdown ? "|" : "";
    for (size_t i = 0; i < cells.size(); ++i) {
        std::string cell = cells[i];
        if (markdown)
            line += " " + cell + " |";
        else if (i + 1 < cells.size())
            line += cell + std::string(widths[i] - columns(cell) + 2, ' ');
        else
            line += cell;
    }
    std::printf("%s\n", line.c_str());
}

} // namespace

int main(int argc, char **argv) {
    const bool markdown = argc == 3 && std::strcmp(argv[2], "--markdown") == 0;
    if (argc != 2 && !markdown) {
        std::fprintf(stderr, "usage: %s ROWS [--markdown]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "perf_table: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<row> rows;
    std::vector<std::string> groups; // in the order they first appear
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty())
            continue;
        row fields(1);
        for (char c : line) {
            if (c == '\t')
                fields.emplace_back();
            else
                fields.back() += c;
        }
        if (fields.size() != 8) {
            std::fprintf(stderr, "perf_table: %s:%d is not a table row\n", argv[1], number);
            return 1;
        }
        if (std::find(groups.begin(), groups.end(), fields[0]) == groups.end())
            groups.push_back(fields[0]);
        rows.push_back(fields);
    }
    std::vector<size_t> widths;
    for (const std::string &cell : header)
        widths.push_back(columns(cell));
    for (const row &r : rows)
        for (size_t i = 1; i < r.size(); ++i)
            widths[i - 1] = std::max(widths[i - 1], columns(r[i]));

    print_line(header, widths, markdown);
    if (markdown)
        std::printf("|---|---:|---|---:|---:|---|---|\n");
    for (const std::string &group : groups) {
        if (markdown)
            print_line({"**" + group + "**", "", "", "", "", "", ""}, widths, true);
        else
            std::printf("\n[%s]\n", group.c_str());
        for (const row &r : rows)
            if (r[0] == group)
                print_line(row(r.begin() + 1, r.end()), widths, markdown);
    }
    for (const char *verdict : {"met", "not met"}) {
        std::ostringstream list;
        int count = 0;
        for (const row &r : rows) {
            if (r[7] != verdict)
                continue;
            ++count;
            list << (markdown ? "- " : "  ") << r[1];
            if (r[3] != "-")
                list << " against " << r[3];
            list << ": " << r[2];
            if (r[6].rfind("ratio", 0) == 0)
                list << ", ratio " << r[5];
            list << " (goal " << r[6] << ")\n";
        }
        std::printf(markdown ? "\n**Goals %s** (%d):\n\n%s" : "\nGoals %s (%d):\n%s", verdict,
                    count, list.str().c_str());
    }
    return 0;
}
