// Prints the performance table from the rows the bench binaries appended to one
// file: aligned for a terminal, or as Markdown, followed by the goals met and not met.
//   perf_table ROWS            text
//   perf_table ROWS --markdown Markdown
#include "bench_rows.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string goal_line(const table_row &row) {
    std::string line = row.measurement;
    if (!row.baseline.empty())
        line += " against " + row.baseline;
    line += ": " + row.value;
    if (row.goal.rfind("ratio", 0) == 0)
        line += ", ratio " + format_ratio(row.ratio);
    return line + " (goal " + row.goal + ")";
}

void print_goals(std::FILE *out, const std::vector<table_row> &rows, bool markdown) {
    for (const char *verdict : {"met", "not met"}) {
        std::vector<const table_row *> matching;
        for (const table_row &row : rows)
            if (row.verdict == verdict)
                matching.push_back(&row);
        std::fprintf(out, markdown ? "\n**Goals %s** (%zu):\n\n" : "\nGoals %s (%zu):\n", verdict,
                     matching.size());
        for (const table_row *row : matching)
            std::fprintf(out, markdown ? "- %s\n" : "  %s\n", goal_line(*row).c_str());
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || (argc == 3 && std::strcmp(argv[2], "--markdown") != 0) || argc > 3) {
        std::fprintf(stderr, "usage: %s ROWS [--markdown]\n", argv[0]);
        return 2;
    }
    const bool markdown = argc == 3;
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "perf_table: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<table_row> rows;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty())
            continue;
        table_row row;
        if (!decode_row(line, row)) {
            std::fprintf(stderr, "perf_table: %s:%d is not a table row\n", argv[1], number);
            return 1;
        }
        rows.push_back(row);
    }
    // Rows of one group stay together, groups in the order they first appear.
    std::vector<std::string> groups;
    for (const table_row &row : rows)
        if (std::find(groups.begin(), groups.end(), row.group) == groups.end())
            groups.push_back(row.group);
    const auto rank = [&](const table_row &row) {
        return std::find(groups.begin(), groups.end(), row.group) - groups.begin();
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const table_row &a, const table_row &b) { return rank(a) < rank(b); });

    if (markdown)
        print_markdown_table(stdout, rows);
    else
        print_text_table(stdout, rows);
    print_goals(stdout, rows, markdown);
    return 0;
}
