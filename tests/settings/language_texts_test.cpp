#include "settings/language_texts.h"

#include <set>

#include <gtest/gtest.h>

#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "settings/text_encoding.h"

namespace korvanel {
namespace {

TEST(LanguageTexts, DefaultsAreCompleteAndDistinct) {
    SettingsStore language;
    registerDefaultTexts(language);
    EXPECT_EQ(defaultTexts().size(), 237u);
    EXPECT_EQ(language.entries().size(), 237u);
    EXPECT_EQ(language.getString("Main/Message/NoSources"),
              "No sources available.\r\nPlease select a radio station from Presets or Favorites to play.");
    EXPECT_EQ(language.getString("Player/Message/WaitRetry"), "Retrying in %d seconds..");

    SettingsStore settings;
    registerDefaultSettings(settings);
    EXPECT_EQ(defaultSettingCount(), 43u);
    EXPECT_EQ(settings.entries().size(), 43u);
    EXPECT_EQ(settings.getColor("PeakMeter/ColorA"), 0xd8f4f6u);
    EXPECT_EQ(settings.getPoint("Session/Position"), (SettingPoint{-32000, -32000}));
    EXPECT_EQ(settings.getString("Sound/PlayOnDevices"), "1");
    EXPECT_EQ(settings.getInt("Recording/MaxBuffer"), 5242880);
    EXPECT_EQ(settings.getString("General/Editor"), "xdg-open");
}

TEST(LanguageTexts, ConversionSignatures) {
    EXPECT_EQ(conversionSignature("Connect error: %s"), "s");
    EXPECT_EQ(conversionSignature("Retrying in %d seconds.."), "d");
    EXPECT_EQ(conversionSignature("100%% sure %i %-5s"), "ds");
    EXPECT_EQ(conversionSignature("%s%s%n"), "ss?");
    EXPECT_EQ(conversionSignature("%*d"), "?");
    EXPECT_EQ(conversionSignature("%99999s"), "?");
    EXPECT_EQ(conversionSignature("%x %p"), "??");
    EXPECT_EQ(conversionSignature("ends in %"), "?");
    EXPECT_EQ(conversionSignature("%.5s %-8.3d"), "sd");
}

TEST(LanguageTexts, AConversionWithMoreThanOnePrecisionIsNoConversion) {
    // printf has no "%..0s" or "%5.3.2s"; such a text must neither pass the
    // check nor reach the library as a format.
    EXPECT_EQ(conversionSignature("%..0s"), "?");
    EXPECT_EQ(conversionSignature("%5.3.2s"), "?");
    EXPECT_EQ(conversionSignature("%.5.d"), "?");
    EXPECT_EQ(formatText("Kritisch: %..0s", {"x"}), "Kritisch: %..0s");
    EXPECT_EQ(formatText("%5.3.2d", {std::int64_t{7}}), "%5.3.2d");

    SettingsStore language;
    registerDefaultTexts(language);
    ASSERT_TRUE(language.loadFromText("<L><Player><Error><Critical>Kritisch: %..0s</Critical></Error></Player></L>"));
    EXPECT_EQ(rejectMismatchedTexts(language), 1);
    EXPECT_EQ(language.getString("Player/Error/Critical"), "Critical error, giving up: %s");
}

TEST(LanguageTexts, MismatchedTextsFromAFileAreReplacedByTheirDefaults) {
    SettingsStore language;
    registerDefaultTexts(language);
    ASSERT_TRUE(language.loadFromText(
        "<L><Player><Error>"
        "<Connect>Verbindungsfehler: %s</Connect>"
        "<Critical>%s%s%n</Critical>"
        "</Error><Message>"
        "<WaitRetry>Neuer Versuch in %s Sekunden</WaitRetry>"
        "<WaitRestart>Neustart in %d Sekunden</WaitRestart>"
        "</Message></Player>"
        "<Main><Status><Playing>Spielt..</Playing><Idling>%s</Idling></Status></Main></L>"));
    EXPECT_EQ(rejectMismatchedTexts(language), 3);
    EXPECT_EQ(language.getString("Player/Error/Connect"), "Verbindungsfehler: %s");
    EXPECT_EQ(language.getString("Player/Error/Critical"), "Critical error, giving up: %s");
    EXPECT_EQ(language.getString("Player/Message/WaitRetry"), "Retrying in %d seconds..");
    EXPECT_EQ(language.getString("Player/Message/WaitRestart"), "Neustart in %d Sekunden");
    EXPECT_EQ(language.getString("Main/Status/Playing"), "Spielt..");
    EXPECT_EQ(language.getString("Main/Status/Idling"), "Idling..");
}

TEST(LanguageTexts, FormattingNeverTrustsTheText) {
    EXPECT_EQ(formatText("Connecting to %s", {"http://a/"}), "Connecting to http://a/");
    EXPECT_EQ(formatText("Retrying in %d seconds..", {std::int64_t{5}}), "Retrying in 5 seconds..");
    EXPECT_EQ(formatText("H%02d_URL", {std::int64_t{3}}), "H03_URL");
    EXPECT_EQ(formatText("100%% %s", {"done"}), "100% done");
    // Missing, surplus and mismatched arguments: the conversion stays literal.
    EXPECT_EQ(formatText("%s and %s", {"one"}), "one and %s");
    EXPECT_EQ(formatText("%d", {"text"}), "%d");
    EXPECT_EQ(formatText("%s%n%x%*d", {"a", std::int64_t{1}}), "a%n%x%*d");
    EXPECT_EQ(formatText("no placeholders", {"ignored"}), "no placeholders");
    EXPECT_EQ(formatText("%99999s", {"x"}), "%99999s");
    EXPECT_EQ(formatText("%", {"x"}), "%");

    // Long results are cut to the buffer without splitting a character.
    const std::string euros(2000, 'x');
    const std::string cut = formatText("\xE2\x82\xAC%s", {euros});
    EXPECT_EQ(cut.size(), kFormattedTextMaxBytes);
    std::string wide;
    for (int i = 0; i < 400; ++i) {
        wide += "\xE2\x82\xAC";
    }
    const std::string cutWide = formatText("%s", {wide});
    EXPECT_LE(cutWide.size(), kFormattedTextMaxBytes);
    EXPECT_EQ(cutWide.size() % 3, 0u);
    EXPECT_TRUE(isValidUtf8(cutWide));
}

}  // namespace
}  // namespace korvanel
