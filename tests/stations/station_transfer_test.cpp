#include "stations/favorites_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "stations/station_import.h"
#include "stations/station_list.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using Entry = std::pair<std::string, std::vector<std::string>>;  // title, sources
using Titles = std::vector<std::string>;

std::vector<Entry> entriesOf(const StationImport& imported) {
    std::vector<Entry> entries;
    for (const FavoriteStation& station : imported.stations) {
        entries.emplace_back(station.title, station.sources);
    }
    return entries;
}

// The titles of a favourites file, or of its group, as read back.
Titles titlesIn(const std::string& path, const std::string& group = {}) {
    Titles titles;
    for (const FavoriteStation& station : readStationList(path, group).stations) {
        titles.push_back(station.title);
    }
    return titles;
}

FavoriteStation station(const std::string& title, std::vector<std::string> sources) {
    return {title, "", std::move(sources)};
}

const std::string kFavorites =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Favorites>\n"
    "   <Station title=\"Old\" url=\"\"><Source>http://old.example/</Source></Station>\n"
    "   <Group title=\"Jazz\">\n"
    "      <Station title=\"J1\" url=\"\"><Source>http://j1.example/</Source></Station>\n"
    "   </Group>\n</Favorites>\n";

class StationTransferTest : public ::testing::Test {
protected:
    void SetUp() override { test::writeFile(favorites_, kFavorites); }
    test::TempFolder folder_;
    std::string favorites_ = folder_.file("favorites.xml");
};

TEST_F(StationTransferTest, EachExportFormatReadsBackAsTheSameStations) {
    const std::string local = folder_.path() + "/my music/100% hits.mp3";
    const std::vector<FavoriteStation> stations = {
        station("Rock & <Roll> \"Live\"", {"https://rock.example/live?a=1&b=2", "http://rock.example/backup"}),
        station("Line one\nLine two", {"http://news.example/"}),
        station("Caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x8E\xB5", {local}),
        station("No sources", {}),
    };
    const std::vector<Entry> expected = {
        {"Rock & <Roll> \"Live\"", {"https://rock.example/live?a=1&b=2"}},
        {"Line one Line two", {"http://news.example/"}},
        {"Caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x8E\xB5", {local}},
    };
    for (const auto& [format, name] : {std::pair{ExportFormat::M3u, "out.m3u"}, std::pair{ExportFormat::Pls, "out.pls"},
                                       std::pair{ExportFormat::Xspf, "out.xspf"}}) {
        const std::string text = exportText(stations, format);
        test::writeFile(folder_.file(name), text);
        const StationImport imported = importStations(folder_.file(name));
        EXPECT_EQ(imported.error, "") << name;
        EXPECT_EQ(entriesOf(imported), expected) << text;
        EXPECT_EQ(imported.skipped, 0u) << name;
    }
    EXPECT_NE(exportText(stations, ExportFormat::Xspf).find("<location>file:///"), std::string::npos);
}

TEST_F(StationTransferTest, AddingManyWritesOnlyWhatIsNewIntoItsGroup) {
    FavoritesImport added = addFavorites(
        favorites_,
        {station("A", {"http://a.example/"}), station("In the file", {" http://old.example/ "}),
         station("B", {"http://b.example/", "http://b2.example/"}), station("A again", {"http://a.example/"}),
         station("Half known", {"http://c.example/", "http://j1.example/"}), station("Nothing", {})},
        "Rock");
    EXPECT_EQ(added.result, FavoriteAddResult::Added);
    EXPECT_EQ(added.added, 2u);
    EXPECT_EQ(added.alreadyThere, 4u);
    const std::size_t insertAt = kFavorites.rfind("</Favorites>");
    EXPECT_EQ(test::readFile(favorites_).substr(0, insertAt), kFavorites.substr(0, insertAt));
    EXPECT_EQ(titlesIn(favorites_, "Rock"), (Titles{"A", "B"}));
    EXPECT_EQ(readStationList(favorites_, "Rock").stations.back().sources.size(), 2u);

    // Into a group that is there, or the end of the list.
    ASSERT_EQ(addFavorites(favorites_, {station("J2", {"http://j2.example/"})}, "Jazz").result,
              FavoriteAddResult::Added);
    ASSERT_EQ(addFavorites(favorites_, {station("Loose", {"http://loose.example/"})}).result, FavoriteAddResult::Added);
    EXPECT_EQ(titlesIn(favorites_, "Jazz"), (Titles{"J1", "J2"}));
    EXPECT_EQ(titlesIn(favorites_), (Titles{"Old", "J1", "J2", "A", "B", "Loose"}));

    // Nothing new: not a byte written, no group made.
    const std::string before = test::readFile(favorites_);
    added = addFavorites(favorites_, {station("A", {"http://a.example/"}), station("J2", {"http://j2.example/"})}, "New");
    EXPECT_EQ(added.result, FavoriteAddResult::AlreadyThere);
    EXPECT_EQ(added.added, 0u);
    EXPECT_EQ(added.alreadyThere, 2u);
    EXPECT_EQ(test::readFile(favorites_), before);
}

TEST_F(StationTransferTest, AListThatWouldGrowPastWhatIsReadStaysAsItWas) {
    // A comment fills the file to just under the limit.
    const std::string open = "<Favorites>\n<!--";
    const std::string close = "-->\n</Favorites>\n";
    const std::size_t fill = StationList::kMaxFileBytes - 1000 - open.size() - close.size();
    test::writeFile(favorites_, open + std::string(fill, 'x') + close);
    ASSERT_EQ(addFavorites(favorites_, {station("Fits", {"http://fits.example/"})}).result, FavoriteAddResult::Added);
    const std::string before = test::readFile(favorites_);

    std::vector<FavoriteStation> many;
    for (int n = 0; n < 20; ++n) {
        many.push_back(station("S", {"http://s.example/" + std::to_string(n)}));
    }
    const FavoritesImport added = addFavorites(favorites_, many, "More");
    EXPECT_EQ(added.result, FavoriteAddResult::TooLarge);
    EXPECT_EQ(added.added, 0u);
    EXPECT_TRUE(test::readFile(favorites_) == before);  // no 32 MB diff on failure
}

TEST_F(StationTransferTest, ALatin1FileKeepsItsEncodingAndLineEnds) {
    test::writeFile(favorites_, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<Favorites>\r\n"
                                "<Group title=\"Caf\xE9\">\r\n</Group>\r\n</Favorites>\r\n");
    const std::string euro = "\xC3\x89t\xC3\xA9 \xE2\x82\xAC";
    ASSERT_EQ(addFavorites(favorites_, {station(euro, {"http://e.example/"})}, "Caf\xC3\xA9").result,
              FavoriteAddResult::Added);
    ASSERT_EQ(addFavorites(favorites_, {station("Neu", {"http://n.example/"})}, "\xC3\x9C \xE4\xB8\xAD").result,
              FavoriteAddResult::Added);
    const std::string after = test::readFile(favorites_);
    EXPECT_NE(after.find("\"\xC9t\xE9 &#"), std::string::npos) << after;
    EXPECT_EQ(after.find('\xC3'), std::string::npos) << after;  // no UTF-8 in it
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), std::count(after.begin(), after.end(), '\r')) << after;
    EXPECT_EQ(titlesIn(favorites_, "Caf\xC3\xA9"), Titles{euro});
    EXPECT_EQ(titlesIn(favorites_, "\xC3\x9C \xE4\xB8\xAD"), Titles{"Neu"});
}

TEST_F(StationTransferTest, AListGoesIntoTheFavouritesAndAGroupOfThemOutAgain) {
    const std::string list = folder_.file("Jazz Picks.m3u");
    test::writeFile(list, "#EXTM3U\n#EXTINF:-1,P1\nhttp://p1.example/\nftp://x/\n#EXTINF:-1,P2\nhttp://p2.example/\n");
    const FavoritesImportReport report = importIntoFavorites(favorites_, list);
    EXPECT_EQ(report.result, FavoriteAddResult::Added);
    EXPECT_EQ(report.group, "Jazz Picks");  // named after the list
    EXPECT_EQ(report.added, 2u);
    EXPECT_EQ(report.skipped, 1u);
    EXPECT_EQ(importIntoFavorites(favorites_, list, "Again").alreadyThere, 2u);

    const std::string out = folder_.file("out.pls");
    EXPECT_EQ(exportFavorites(favorites_, out, ExportFormat::Pls, "Jazz Picks").written, 2u);
    EXPECT_EQ(entriesOf(importStations(out)),
              (std::vector<Entry>{{"P1", {"http://p1.example/"}}, {"P2", {"http://p2.example/"}}}));
}

}  // namespace
}  // namespace korvanel
