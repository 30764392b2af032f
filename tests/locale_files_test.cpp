// Every language carries exactly the English keys, each line in the host's Key="text" form with
// a text that is not empty and holds no quote the host would end it at.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#ifndef PINVALER_SOURCE_DIR
#error "locale_files_test needs PINVALER_SOURCE_DIR"
#endif

namespace {

std::vector<std::string> locale_keys(const std::string &name) {
    std::ifstream in(PINVALER_SOURCE_DIR "/data/locale/" + name + ".ini");
    EXPECT_TRUE(in) << name;
    std::vector<std::string> keys;
    for (std::string line; std::getline(in, line);) {
        const size_t equals = line.find("=\"");
        EXPECT_TRUE(equals != std::string::npos && equals > 0 && line.size() > equals + 3 &&
                    line.find('"', equals + 2) == line.size() - 1)
            << name << ": " << line;
        keys.push_back(line.substr(0, equals));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

TEST(LocaleFiles, EveryLanguageHasExactlyTheEnglishKeys) {
    const std::vector<std::string> english = locale_keys("en-US");
    EXPECT_GE(english.size(), 20u);
    EXPECT_TRUE(std::adjacent_find(english.begin(), english.end()) == english.end());
    for (const char *name : {"de-DE", "fr-FR", "es-ES", "ja-JP"})
        EXPECT_EQ(locale_keys(name), english) << name;
}

} // namespace
