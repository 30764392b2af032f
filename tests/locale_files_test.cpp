// The module's locale files: every language carries exactly the English keys, each with a real
// text, in the host's Key="text" syntax, as valid UTF-8.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifndef PINVALER_SOURCE_DIR
#error "locale_files_test needs PINVALER_SOURCE_DIR"
#endif

namespace {

namespace fs = std::filesystem;

fs::path locale_dir() {
    return fs::path(PINVALER_SOURCE_DIR) / "data/locale";
}

struct LocaleFile {
    std::map<std::string, std::string> texts;
    std::vector<std::string> problems;
};

bool valid_utf8(const std::string &bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        int continuation = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            continuation = 1;
            code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            continuation = 2;
            code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            continuation = 3;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + continuation >= bytes.size()) {
            return false;
        }
        for (int k = 1; k <= continuation; ++k) {
            const auto next = static_cast<uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[continuation] || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += static_cast<size_t>(continuation) + 1;
    }
    return true;
}

// The quoted text of one Key="text" line, or an empty string with a reason when the line is not
// in that form. A quote inside the text must be escaped, or the host would cut the text there.
bool parse_line(const std::string &line, std::string &key, std::string &text, std::string &reason) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) {
        reason = "no key";
        return false;
    }
    key = line.substr(0, equals);
    for (char c : key) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_';
        if (!allowed) {
            reason = "bad character in key";
            return false;
        }
    }
    const std::string value = line.substr(equals + 1);
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        reason = "text not enclosed in quotes";
        return false;
    }
    text = value.substr(1, value.size() - 2);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            reason = "unescaped quote inside the text";
            return false;
        }
    }
    const size_t last_plain = text.find_last_not_of('\\');
    const size_t trailing_backslashes =
        text.size() - (last_plain == std::string::npos ? 0 : last_plain + 1);
    if (trailing_backslashes % 2 == 1) {
        reason = "closing quote is escaped";
        return false;
    }
    if (text.find_first_not_of(" \t") == std::string::npos) {
        reason = "empty text";
        return false;
    }
    return true;
}

LocaleFile read_locale(const fs::path &path) {
    LocaleFile file;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        file.problems.push_back("starts with a byte order mark");
    }
    if (!valid_utf8(bytes)) {
        file.problems.push_back("not valid UTF-8");
    }
    size_t start = 0;
    int line_number = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        std::string key;
        std::string text;
        std::string reason;
        const std::string where = "line " + std::to_string(line_number) + ": ";
        if (!parse_line(line, key, text, reason)) {
            file.problems.push_back(where + reason);
        } else if (!file.texts.emplace(key, text).second) {
            file.problems.push_back(where + "duplicate key " + key);
        }
    }
    return file;
}

std::vector<fs::path> locale_files() {
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(locale_dir())) {
        if (entry.path().extension() == ".ini") {
            files.push_back(entry.path());
        }
    }
    return files;
}

std::set<std::string> keys_of(const LocaleFile &file) {
    std::set<std::string> keys;
    for (const auto &[key, text] : file.texts) {
        keys.insert(key);
    }
    return keys;
}

TEST(LocaleFiles, CheckerRejectsMalformedLines) {
    struct Case {
        const char *line;
        bool good;
    };
    const Case cases[] = {
        {R"x(Pinvale.Padding="Extra inset (pixels)")x", true},
        {R"x(Pinvale.Help="Say \"hi\" twice")x", true},
        {R"x(Pinvale.Padding=Extra inset)x", false},
        {R"x(Pinvale.Padding="Extra inset)x", false},
        {R"x(Pinvale.Padding="Extra "inset"")x", false},
        {R"x(Pinvale.Padding="")x", false},
        {R"x(Pinvale.Padding="  ")x", false},
        {R"x(Pinvale.Padding="text\")x", false},
        {R"x(="text")x", false},
        {R"x(Pinvale Padding="text")x", false},
    };
    for (const Case &c : cases) {
        std::string key;
        std::string text;
        std::string reason;
        EXPECT_EQ(parse_line(c.line, key, text, reason), c.good) << c.line << " " << reason;
    }
    EXPECT_TRUE(valid_utf8("Zusätzlicher マーカー"));
    EXPECT_FALSE(valid_utf8("\xC3"));         // cut short
    EXPECT_FALSE(valid_utf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(valid_utf8("\xED\xA0\x80")); // surrogate
}

TEST(LocaleFiles, ShipsTheTranslatedLanguages) {
    std::set<std::string> names;
    for (const fs::path &path : locale_files()) {
        names.insert(path.stem().string());
    }
    for (const char *name : {"en-US", "de-DE", "fr-FR", "es-ES", "ja-JP"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
}

TEST(LocaleFiles, EveryFileIsWellFormed) {
    for (const fs::path &path : locale_files()) {
        const LocaleFile file = read_locale(path);
        EXPECT_TRUE(file.problems.empty())
            << path.filename() << ": " << ::testing::PrintToString(file.problems);
        EXPECT_FALSE(file.texts.empty()) << path.filename();
    }
}

TEST(LocaleFiles, EveryFileHasExactlyTheEnglishKeys) {
    const std::set<std::string> english = keys_of(read_locale(locale_dir() / "en-US.ini"));
    ASSERT_FALSE(english.empty());
    for (const fs::path &path : locale_files()) {
        const std::set<std::string> keys = keys_of(read_locale(path));
        std::vector<std::string> missing;
        std::vector<std::string> extra;
        std::set_difference(english.begin(), english.end(), keys.begin(), keys.end(),
                            std::back_inserter(missing));
        std::set_difference(keys.begin(), keys.end(), english.begin(), english.end(),
                            std::back_inserter(extra));
        EXPECT_TRUE(missing.empty())
            << path.filename() << " lacks " << ::testing::PrintToString(missing);
        EXPECT_TRUE(extra.empty())
            << path.filename() << " has unknown " << ::testing::PrintToString(extra);
    }
}

} // namespace
