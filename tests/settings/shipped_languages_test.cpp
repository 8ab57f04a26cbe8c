// Every language file the program ships, against the English texts.
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "settings/language_texts.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

std::vector<std::filesystem::path> shippedFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(KORVANEL_SOURCE_DIR) + "/languages")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("lang.", 0) == 0 && name != "lang.default.xml") {
            files.push_back(entry.path());
        }
    }
    return files;
}

// Accelerator markers: an '&' before anything but another '&'.
int mnemonics(const std::string& text) {
    int count = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            count += text[i + 1] != '&' ? 1 : 0;
            ++i;
        }
    }
    return count;
}

TEST(ShippedLanguages, EachTranslatesEveryTextAndKeepsItsPlaceholders) {
    const auto files = shippedFiles();
    std::set<std::string> names;
    for (const auto& file : files) {
        names.insert(file.filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"lang.de.xml", "lang.es.xml", "lang.fr.xml"}));

    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        SettingsStore loaded;
        ASSERT_TRUE(loaded.load(file.string()));
        EXPECT_EQ(loaded.entries().size(), defaultTexts().size()) << "a text too many or too few";
        int untranslated = 0;
        for (const DefaultText& english : defaultTexts()) {
            ASSERT_TRUE(loaded.contains(english.key)) << english.key;
            const std::string text = loaded.getString(english.key);
            EXPECT_FALSE(text.empty()) << english.key;
            EXPECT_EQ(conversionSignature(text), conversionSignature(english.text)) << english.key << ": " << text;
            EXPECT_EQ(mnemonics(text), mnemonics(english.text)) << english.key << ": " << text;
            untranslated += text == english.text ? 1 : 0;
        }
        // Names and marks ("OK", "<", ">") may stay as they are; whole
        // sentences may not.
        EXPECT_LT(untranslated, 12);

        // What the program does with the file keeps every text.
        SettingsStore language;
        registerDefaultTexts(language);
        ASSERT_TRUE(language.load(file.string()));
        EXPECT_EQ(rejectMismatchedTexts(language), 0);
    }
}

}  // namespace
}  // namespace korvanel
