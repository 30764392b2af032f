// The locale files: every text the code asks for exists in English, and every language has the
// same keys, each with a non-empty text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// Lines of the form Key="Text".
std::map<std::string, std::string> read_locale(const fs::path &file) {
    std::map<std::string, std::string> texts;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const size_t equals = line.find("=\"");
        if (equals != std::string::npos && line.size() >= equals + 3 && line.back() == '"')
            texts[line.substr(0, equals)] = line.substr(equals + 2, line.size() - equals - 3);
    }
    return texts;
}

// "Pinvale.Xyz" keys named in the module's sources.
std::set<std::string> keys_in_sources() {
    std::set<std::string> keys;
    const std::string prefix = "\"Pinvale.";
    for (const auto &entry : fs::recursive_directory_iterator(PINVALER_SOURCE_DIR "/src")) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path());
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        for (size_t at = text.find(prefix); at != std::string::npos;
             at = text.find(prefix, at + 1)) {
            const size_t end = text.find('"', at + 1);
            const std::string key = text.substr(at + 1, end - at - 1);
            if (std::all_of(key.begin(), key.end(),
                            [](char c) { return std::isalnum(c) || c == '.'; }))
                keys.insert(key);
        }
    }
    return keys;
}

TEST(Locale, EveryLanguageHasEveryTextTheCodeAsksFor) {
    const fs::path dir = PINVALER_SOURCE_DIR "/data/locale";
    const std::map<std::string, std::string> english = read_locale(dir / "en-US.ini");
    const std::set<std::string> used = keys_in_sources();
    ASSERT_GT(used.size(), 30u);
    for (const std::string &key : used)
        EXPECT_TRUE(english.count(key)) << key << " has no English text";
    for (const char *language : {"de-DE", "es-ES", "fr-FR", "ja-JP"}) {
        const std::map<std::string, std::string> texts =
            read_locale(dir / (std::string(language) + ".ini"));
        for (const auto &[key, text] : english) {
            const auto found = texts.find(key);
            EXPECT_TRUE(found != texts.end() && !found->second.empty())
                << language << " lacks " << key;
        }
        EXPECT_EQ(texts.size(), english.size()) << language << " has keys English lacks";
    }
}

} // namespace
