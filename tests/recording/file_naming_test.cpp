#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "recording/file_name_cleaning.h"
#include "recording/file_name_pattern.h"
#include "recording/recording_paths.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

TEST(FileNameCleaning, ForbiddenAndControlCharactersBecomeUnderscores) {
    EXPECT_EQ(cleanNameValue("Radio X: Live"), "Radio X_ Live");
    EXPECT_EQ(cleanNameValue("A/B"), "A_B");
    EXPECT_EQ(cleanNameValue("\"*/:<>?\\|"), "_________");
    EXPECT_EQ(cleanNameValue(std::string("a\tb\nc\x01\x7F\0", 8)), std::string("a_b_c_\x7F_", 8));
    EXPECT_EQ(cleanNameValue("Rock & Roll (Live) [2024] 100%"), "Rock & Roll (Live) [2024] 100%");
}

TEST(FileNameCleaning, EachNonAsciiCharacterBecomesOneUnderscore) {
    EXPECT_EQ(cleanNameValue("Café Müller"), "Caf_ M_ller");
    EXPECT_EQ(cleanNameValue("Радио"), "_____");
    EXPECT_EQ(cleanNameValue("日本の歌"), "____");
    EXPECT_EQ(cleanNameValue("\xF0\x9F\x8E\xB5 Tune"), "_ Tune");
    // Bytes that are not UTF-8 (Latin-1 text) count one each.
    EXPECT_EQ(cleanNameValue("Caf\xE9 \xFF\xFE"), "Caf_ __");
    EXPECT_EQ(cleanNameValue("\xE2\x82"), "__");  // a cut sequence at the end
}

TEST(FileNameCleaning, ValuesAreCutTo259Characters) {
    EXPECT_EQ(cleanNameValue(std::string(400, 'a')).size(), 259u);
    std::string accented;
    for (int i = 0; i < 300; ++i) {
        accented += "é";
    }
    EXPECT_EQ(cleanNameValue(accented), std::string(259, '_'));
}

TEST(FileNameCleaning, NamesNeverLeaveTheFolder) {
    EXPECT_EQ(safeRelativeName(".."), "__");
    EXPECT_EQ(safeRelativeName("."), "_");
    EXPECT_EQ(safeRelativeName("../../etc/passwd"), "__/__/etc/passwd");
    EXPECT_EQ(safeRelativeName("a\\..\\b"), "a/__/b");
    EXPECT_EQ(safeRelativeName(".hidden/x"), "_hidden/x");
    EXPECT_EQ(safeRelativeName("...x"), "___x");
    EXPECT_EQ(safeRelativeName(""), "_");
    EXPECT_EQ(safeRelativeName("/abs"), "_/abs");
    EXPECT_EQ(safeRelativeName("a//b/"), "a/_/b/_");
    EXPECT_EQ(safeRelativeName("a.b/c.d"), "a.b/c.d");
}

TEST(FileNameCleaning, NulBytesNeverReachAPath) {
    // A path is handed on as a C string: a NUL would cut it short.
    EXPECT_EQ(safeRelativeName(std::string("a\0b/\0", 5)), "a_b/_");
    FileNamePattern pattern;
    pattern.setPattern(std::string("%title%\0/x", 10));
    EXPECT_EQ(pattern.expand("Station", "Song", 0), "Station_/x");
}

TEST(FileNameCleaning, ComponentsAreCutTo255BytesWithoutSplittingACharacter) {
    EXPECT_EQ(safeRelativeName(std::string(300, 'x') + "/y"), std::string(255, 'x') + "/y");
    std::string wide;  // 3-byte characters: 85 fit in 255 bytes exactly, 86 do not
    for (int i = 0; i < 100; ++i) {
        wide += "\xE6\x97\xA5";
    }
    EXPECT_EQ(safeRelativeName(wide).size(), 255u);
    std::string twoByte;  // 2-byte characters: 127 fit, the 128th would split
    for (int i = 0; i < 200; ++i) {
        twoByte += "\xC3\xA4";
    }
    EXPECT_EQ(safeRelativeName(twoByte).size(), 254u);
}

TEST(FileNameCleaning, ALongRunOfStrayContinuationBytesIsCutNotEmptied) {
    // Not UTF-8: cutting must not back up through the whole component and
    // leave an empty name ("folder//x", or a file called ".mp3").
    const std::string stray(300, '\x80');
    EXPECT_EQ(safeRelativeName(stray + "/x"), stray.substr(0, 252) + "/x");
    EXPECT_EQ(safeRelativeName("a/" + stray), "a/" + stray.substr(0, 252));
}

TEST(FileNamePattern, DefaultPatternFolderPerStationFilePerTitle) {
    FileNamePattern pattern;
    EXPECT_EQ(pattern.expand("Radio X: Live", "A/B", 0), "Radio X_ Live/A_B");
    EXPECT_EQ(pattern.expand("Radio X: Live", "", 0), "Radio X_ Live/untitled");
    EXPECT_EQ(pattern.expand("..", "Song", 0), "__/Song");
    EXPECT_EQ(pattern.expand("", "", 0), "_/untitled");
    EXPECT_EQ(pattern.expand(".", "..", 0), "_/__");
}

TEST(FileNamePattern, EveryTokenAndEveryOccurrence) {
    test::ScopedEnv zone("TZ", "UTC");
    ::tzset();
    const std::time_t now = 1700000000;  // 2023-11-14 22:13:20 UTC
    FileNamePattern pattern;
    pattern.setPattern("%station%-%title%/%songname%-%track% %unix% %date% %time% %other% 50% %station%");
    EXPECT_EQ(pattern.expand("S", "T", now), "S-S/T-T 1700000000 20231114 221320 %other% 50% S");
    pattern.setTimeFormat("%H.%M");
    pattern.setDateFormat("%d-%m-%Y");
    pattern.setPattern("%date%_%time%");
    EXPECT_EQ(pattern.expand("S", "T", now), "14-11-2023_22.13");
}

TEST(FileNamePattern, ValuesAreNotScannedForTokens) {
    FileNamePattern pattern;
    pattern.setPattern("%station% - %track%");
    EXPECT_EQ(pattern.expand("%track%", "%date%", 0), "%track% - %date%");
}

TEST(FileNamePattern, TimeTokensAloneNeverStartANewFile) {
    FileNamePattern pattern;
    pattern.setPattern("%date%_%time%");
    const std::string first = pattern.expand("Station", "One", 1000);
    EXPECT_EQ(pattern.expand("Station", "One", 5000), first);
    // The title does not appear in this pattern: still the same file.
    EXPECT_EQ(pattern.expand("Station", "Two", 9000), first);

    pattern.setPattern("%track% %date%_%time%");
    const std::string withTitle = pattern.expand("Station", "One", 1000);
    EXPECT_EQ(pattern.expand("Station", "One", 5000), withTitle);
    const std::string next = pattern.expand("Station", "Two", 9000);
    EXPECT_NE(next, withTitle);
    EXPECT_EQ(next.substr(0, 4), "Two ");
    EXPECT_NE(next.substr(4), withTitle.substr(4)) << "a new title gets a new time stamp";
}

TEST(FileNamePattern, OverlongTimeFormatsGiveAnEmptyToken) {
    FileNamePattern pattern;
    pattern.setPattern("x%time%y");
    pattern.setTimeFormat(std::string(300, 'Z'));
    EXPECT_EQ(pattern.expand("S", "T", 0), "xy");
}

TEST(RecordingPaths, FolderEndsWithExactlyOneSeparator) {
    EXPECT_EQ(recordingFolderFor("/music/rec"), "/music/rec/");
    EXPECT_EQ(recordingFolderFor("/music/rec\\\\"), "/music/rec/");
    EXPECT_EQ(recordingFolderFor("/music/rec//"), "/music/rec/");
    test::TempFolder home;
    test::ScopedEnv program("KORVANEL_HOME", home.path());
    EXPECT_EQ(recordingFolderFor("saved"), home.path() + "/saved/");
    EXPECT_EQ(recordingFolderFor("saved\\"), home.path() + "/saved/");
}

TEST(RecordingPaths, UniqueSuffixNeverOverwrites) {
    test::TempFolder folder;
    const std::string base = folder.path() + "/";
    EXPECT_EQ(uniqueRecordingPath(base, "Song", ".mp3"), base + "Song.mp3");
    test::writeFile(base + "Song.mp3", "x");
    EXPECT_EQ(uniqueRecordingPath(base, "Song", ".mp3"), base + "Song[1].mp3");
    test::writeFile(base + "Song[1].mp3", "x");
    EXPECT_EQ(uniqueRecordingPath(base, "Song", ".mp3"), base + "Song[2].mp3");
    EXPECT_EQ(uniqueRecordingPath(base, "Song", ".ogg"), base + "Song.ogg");
    // A folder or a dangling link of that name counts as taken too.
    std::filesystem::create_directory(base + "Dir.mp3");
    EXPECT_EQ(uniqueRecordingPath(base, "Dir", ".mp3"), base + "Dir[1].mp3");
    std::filesystem::create_symlink(base + "nowhere", base + "Link.mp3");
    EXPECT_EQ(uniqueRecordingPath(base, "Link", ".mp3"), base + "Link[1].mp3");
}

TEST(RecordingPaths, TheFileNameStaysWithin255BytesWithItsSuffix) {
    test::TempFolder folder;
    const std::string base = folder.path() + "/";
    const std::string name = "station/" + std::string(255, 'n');
    const std::string first = uniqueRecordingPath(base, name, ".mp3");
    EXPECT_EQ(first, base + "station/" + std::string(251, 'n') + ".mp3");
    ASSERT_TRUE(createFolders(parentFolder(first)));
    test::writeFile(first, "x");
    ASSERT_TRUE(std::filesystem::exists(first));
    EXPECT_EQ(uniqueRecordingPath(base, name, ".mp3"), base + "station/" + std::string(248, 'n') + "[1].mp3");
}

TEST(RecordingPaths, FoldersAreCreatedWithTheirParents) {
    test::TempFolder folder;
    EXPECT_TRUE(createFolders(folder.file("a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("a/b/c")));
    EXPECT_TRUE(createFolders(folder.file("a/b/c/")));
    test::writeFile(folder.file("file"), "x");
    EXPECT_FALSE(createFolders(folder.file("file/sub")));
    EXPECT_FALSE(createFolders(""));
    EXPECT_EQ(parentFolder("/r/a/b.mp3"), "/r/a");
    EXPECT_EQ(parentFolder("/r/a/"), "/r");
    EXPECT_EQ(parentFolder("b.mp3"), "");
}

}  // namespace
}  // namespace korvanel
