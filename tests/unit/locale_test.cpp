// The locale files: every text the code asks for exists in English, and every language has the
// same keys, each with a non-empty text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> read_locale(const fs::path &file) {
    std::map<std::string, std::string> texts;
    std::ifstream in(file);
    const std::regex line(R"re(^([A-Za-z0-9.]+)="(.*)"$)re");
    std::smatch match;
    for (std::string text; std::getline(in, text);)
        if (std::regex_match(text, match, line))
            texts[match[1]] = match[2];
    return texts;
}

// "Pinvale.Xyz" keys named in the module's sources.
std::set<std::string> keys_in_sources() {
    std::set<std::string> keys;
    const std::regex key(R"re("(Pinvale\.[A-Za-z0-9]+)")re");
    for (const auto &entry : fs::recursive_directory_iterator(PINVALER_SOURCE_DIR "/src")) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path());
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        for (auto it = std::sregex_iterator(text.begin(), text.end(), key);
             it != std::sregex_iterator(); ++it)
            keys.insert((*it)[1]);
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
