#include "stations/station_import.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using Entry = std::pair<std::string, std::vector<std::string>>;  // title, sources

std::vector<Entry> entriesOf(const StationImport& imported) {
    std::vector<Entry> entries;
    for (const FavoriteStation& station : imported.stations) {
        entries.emplace_back(station.title, station.sources);
    }
    return entries;
}

// Each 16-bit unit as two bytes in the order asked for.
std::string utf16(std::u16string_view text, bool bigEndian = false) {
    std::string out;
    for (const char16_t unit : text) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

class StationImportTest : public ::testing::Test {
protected:
    StationImport import(const std::string& name, const std::string& bytes) {
        test::writeFile(folder_.file(name), bytes);
        return importStations(folder_.file(name));
    }
    test::TempFolder folder_;
};

TEST_F(StationImportTest, EachFormGivesItsStationsInOrderAndCountsWhatIsNoStation) {
    const std::string here = folder_.path();
    struct Case {
        std::string file, bytes;
        std::vector<Entry> expected;
        std::size_t skipped;
    };
    const Case cases[] = {
        {"list.m3u",
         "#EXTM3U\n#EXTINF:-1 tvg-name=\"Jazz, Blues\" group-title=\"A,B\",Jazz, Live\nHTTP://jazz.example/live\n"
         "#EXTINF:-1,Local One\r\nmusic/../songs/one.mp3\r\n"
         "ftp://files.example/x.mp3\njavascript:alert(1)\nC:\\Music\\a.mp3\n"
         "file:///srv/a%20b.mp3\n#EXTINF:5,\nMMS://wm.example/s\n",
         {{"Jazz, Live", {"http://jazz.example/live"}}, {"Local One", {here + "/songs/one.mp3"}},
          {"/srv/a b.mp3", {"/srv/a b.mp3"}}, {"mms://wm.example/s", {"mms://wm.example/s"}}},
         3},
        {"list.pls",
         "[playlist]\nNumberOfEntries=4\nFile2=http://two.example/\nTitle2=Two\nTitle1=One = 1\n"
         "file1=https://one.example/\nTitle3=A title alone\nFile4=ftp://four.example/\nTitle4=Four\nVersion=2\n",
         {{"Two", {"http://two.example/"}}, {"One = 1", {"https://one.example/"}}},
         1},
        {"list.xspf",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><title>The list</title><trackList>\n"
         "<track><location>http://a.example/?x=1&amp;y=2</location><location>rtsp://b.example/s</location>"
         "<title>Rock &amp; Roll &#xE9;t&#233; &lt;3</title></track>\n"
         "<track><location>javascript:void(0)</location><title>Bad</title></track><track><title>Nowhere</title>"
         "</track>\n<track><location>file:///srv/radio.pls</location></track></trackList></playlist>\n",
         {{"Rock & Roll \xC3\xA9t\xC3\xA9 <3", {"http://a.example/?x=1&y=2", "rtsp://b.example/s"}},
          {"/srv/radio.pls", {"/srv/radio.pls"}}},
         2},
        {"list.asx",
         "<ASX VERSION=\"3.0\"><TITLE>Whole</TITLE>\n"
         "<ENTRY><TITLE>Classic</TITLE><REF HREF=\"MMS://classic.example/live\"/>"
         "<Ref href=\"http://classic.example/backup\"/></ENTRY>\n"
         "<Entry><Ref HREF=\"C:\\Music\\x.wma\"/></Entry></ASX>\n",
         {{"Classic", {"mms://classic.example/live", "http://classic.example/backup"}}},
         1},
        {"favorites.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Favorites>\n"
         "<Station title=\"Top\" url=\"https://top.example/\"><Source>http://top.example/1</Source>"
         "<Source> http://top.example/2 </Source></Station>\n"
         "<Group title=\"Outer\"><Group title=\"Inner\">"
         "<Station title=\"Deep\" url=\"\"><Source>sounds/deep.ogg</Source></Station></Group>\n"
         "<Separator/><Station title=\"Mid\" url=\"\"><Source>ftp://mid.example/</Source></Station></Group>\n"
         "<Group title=\"Inner\"><Station title=\"Later\" url=\"\"><Source>https://later.example/</Source>"
         "</Station></Group>\n</Favorites>\n",
         {{"Top", {"http://top.example/1", "http://top.example/2"}}, {"Deep", {here + "/sounds/deep.ogg"}},
          {"Later", {"https://later.example/"}}},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const StationImport imported = import(c.file, c.bytes);
        EXPECT_EQ(imported.error, "");
        EXPECT_EQ(entriesOf(imported), c.expected);
        EXPECT_EQ(imported.skipped, c.skipped);
        EXPECT_EQ(imported.leftOut, 0u);
    }
    EXPECT_EQ(importStations(folder_.file("favorites.xml")).stations.front().url, "https://top.example/");

    // Only the first group of a title, with the groups inside it.
    const std::vector<Entry> deep = {{"Deep", {here + "/sounds/deep.ogg"}}};
    EXPECT_EQ(entriesOf(readStationList(folder_.file("favorites.xml"), "Outer")), deep);
    EXPECT_EQ(entriesOf(readStationList(folder_.file("favorites.xml"), "Inner")), deep);
    EXPECT_NE(readStationList(folder_.file("favorites.xml"), "Missing").error, "");
}

TEST_F(StationImportTest, EntriesBecomeNetworkAddressesOrAbsolutePathsOrNothing) {
    const std::pair<std::string_view, std::optional<std::string>> cases[] = {
        {" HTTPS://Host.example/A ", "https://Host.example/A"}, {"rtsp://r.example/s", "rtsp://r.example/s"},
        {"http://", std::nullopt}, {"http://a b/", std::nullopt}, {"http://a/\x01", std::nullopt},
        {"ftp://f.example/x", std::nullopt}, {"javascript:alert(1)", std::nullopt}, {"C:\\a.mp3", std::nullopt},
        {"file:///srv/a%20b%25.mp3", "/srv/a b%.mp3"}, {"FILE://localhost/srv/x", "/srv/x"},
        {"file://other/srv/x", std::nullopt}, {"file:///srv/a%2", std::nullopt},
        {"file:///srv/a%0Ab", std::nullopt}, {"file:///srv/a%00b", std::nullopt},
        {"sub/../a:b.mp3", "/lists/a:b.mp3"}, {"/abs/b.mp3", "/abs/b.mp3"},
    };
    for (const auto& [entry, expected] : cases) {
        EXPECT_EQ(importedAddress(entry, "/lists"), expected) << entry;
    }
    EXPECT_EQ(importedAddress("relative.mp3", ""), std::nullopt);
}

TEST_F(StationImportTest, EightAndSixteenBitTextIsReadAsItsEncodingSays) {
    const std::string a = "http://a.example/";
    // A non-BMP character whose surrogate pair straddles the first 64 KB block.
    const std::u16string head = u"\uFEFF#EXTM3U\n#";
    const std::u16string tail = u"\n#EXTINF:-1,A";
    const std::u16string straddling =
        head + std::u16string(32767 - head.size() - tail.size(), u'x') + tail + u"\U0001F3B5B\nhttp://a.example/\n";
    ASSERT_EQ(utf16(straddling).substr(65534, 2), "\x3C\xD8");
    // The same for a UTF-8 character cut by the block in 8-bit text.
    const std::string eightBitStraddling =
        "#EXTM3U\n#" + std::string(65536 - 22, 'x') + "\n#EXTINF:-1,\xC3\xA9\nhttp://a.example/\n";
    ASSERT_EQ(eightBitStraddling.substr(65535, 2), "\xC3\xA9");

    const std::pair<std::string, std::vector<Entry>> cases[] = {
        {"#EXTM3U\n#EXTINF:-1,Caf\xE9 Fl\xF8""de\nhttp://a.example/\n#EXTINF:-1,Caf\xC3\xA9 UTF\nhttp://b.example/\n",
         {{"Caf\xC3\xA9 Fl\xC3\xB8""de", {a}}, {"Caf\xC3\xA9 UTF", {"http://b.example/"}}}},
        {utf16(u"\uFEFF#EXTM3U\r\n#EXTINF:-1,Caf\u00E9 \u4E2D\r\nhttp://a.example/\r\n"),
         {{"Caf\xC3\xA9 \xE4\xB8\xAD", {a}}}},
        {utf16(u"#EXTM3U\n#" + std::u16string(300, u'-') + u"\n#EXTINF:-1,\u00C9t\u00E9\nhttp://a.example/\n"),
         {{"\xC3\x89t\xC3\xA9", {a}}}},
        {utf16(u"\uFEFF[playlist]\nFile1=http://a.example/\nTitle1=\u00C9t\u00E9\n", true),
         {{"\xC3\x89t\xC3\xA9", {a}}}},
        {utf16(straddling), {{"A\xF0\x9F\x8E\xB5""B", {a}}}},
        {eightBitStraddling, {{"\xC3\xA9", {a}}}},
        {std::string("#EXTM3U\nhttp://a.example/\n\0http://b.example/\n", 45), {{a, {a}}}},
        {utf16(u"#EXTM3U\nhttp://a.example/\n") + std::string(2, '\0') + utf16(u"http://b.example/\n"), {{a, {a}}}},
    };
    int row = 0;
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(row++);
        const StationImport imported = import("list.m3u", bytes);
        EXPECT_EQ(imported.error, "");
        EXPECT_EQ(entriesOf(imported), expected);
    }
}

TEST_F(StationImportTest, HostileListsAreBoundedOrRefusedWhole) {
    // A line past 64 KB is skipped, and what follows it is still read.
    StationImport imported = import(
        "long.m3u", "#EXTM3U\nhttp://a.example/\nhttp://long.example/" + std::string(70000, 'x') +
                        "\nhttp://b.example/\n#EXTINF:-1," + std::string(70000, 't') + "\nhttp://c.example/\n");
    ASSERT_EQ(imported.stations.size(), 3u);
    EXPECT_EQ(imported.stations[1].sources.front(), "http://b.example/");
    EXPECT_EQ(imported.stations[2].title, "http://c.example/");
    EXPECT_EQ(imported.skipped, 2u);
    // A station named by a long address gets a title within the bound, as
    // its export imported again would.
    imported = import("named.m3u", "http://long.example/" + std::string(3000, 'x') + "\n");
    ASSERT_EQ(imported.stations.size(), 1u);
    EXPECT_EQ(imported.stations[0].title.size(), 1024u);

    // Past the most one import takes, stations are counted, not kept.
    std::string m3u = "#EXTM3U\n", pls = "[playlist]\n";
    for (std::size_t n = 1; n <= kMaxImportStations + 3; ++n) {
        const std::string number = std::to_string(n);
        m3u += "http://s.example/" + number + "\n";
        pls += "File" + number + "=http://s.example/" + number + "\nTitle" + number + "=S" + number + "\n";
    }
    for (const auto& [name, bytes] : {std::pair{"many.m3u", m3u}, std::pair{"many.pls", pls}}) {
        SCOPED_TRACE(name);
        imported = import(name, bytes);
        ASSERT_EQ(imported.stations.size(), kMaxImportStations);
        EXPECT_EQ(imported.stations.back().sources.front(), "http://s.example/100000");
        EXPECT_EQ(imported.leftOut, 3u);
    }

    // Broken XML gives nothing, not the stations before the break.
    const std::pair<const char*, const char*> broken[] = {
        {"cut.xspf", "<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList><track><location>http://a/</location>"
                     "</track><track><location>http://b/"},
        {"mismatched.xml", "<Favorites><Station title=\"A\"><Source>http://a/</Source></Station></Group>"},
        {"amp.asx", "<asx><entry><ref href=\"http://a/?x=1&y=2\"/></entry></asx>"},
    };
    for (const auto& [name, bytes] : broken) {
        SCOPED_TRACE(name);
        imported = import(name, bytes);
        EXPECT_NE(imported.error, "");
        EXPECT_TRUE(imported.stations.empty());
    }

    // No form at all; local names only are a list when the name says M3U.
    EXPECT_NE(import("notes.txt", "hello\nworld\n").error, "");
    EXPECT_NE(import("names.txt", "one.mp3\ntwo.mp3\n").error, "");
    EXPECT_EQ(import("names.m3u", "one.mp3\ntwo.mp3\n").stations.size(), 2u);
    EXPECT_NE(import("noise.bin", std::string("\x01\x02\xFF\x7F\x00\x10", 6)).error, "");
    EXPECT_NE(importStations(folder_.file("missing.m3u")).error, "");
}

}  // namespace
}  // namespace korvanel
