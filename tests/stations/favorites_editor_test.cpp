#include "stations/favorites_editor.h"

#include <gtest/gtest.h>

#include "stations/station_list.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

// A user's own file: Latin-1, CRLF, a comment, a group, a separator.
const std::string kUserFile =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
    "<!-- mine, hands off -->\r\n"
    "<Favorites>\r\n"
    "\t<Group title=\"Jazz \xE9t\xE9\">\r\n"
    "\t\t<Station title=\"Caf\xE9 Jazz\" url=\"\"><Source>http://a/1</Source></Station>\r\n"
    "\t</Group>\r\n"
    "\t<Separator/>  <!-- keep -->\r\n"
    "\t<Station title=\"Two\" url=\"\"><Source>http://b/2</Source></Station>\r\n"
    "</Favorites>\r\n";

class FavoritesEditorTest : public ::testing::Test {
protected:
    void SetUp() override { test::writeFile(path_, kUserFile); }
    // The station of menu number n, after a fresh load.
    std::pair<std::string, std::vector<std::string>> station(int n) {
        StationList list;
        list.setPath(path_);
        list.load();
        const std::vector<std::string> sources = list.lookup(n);
        return {list.title(), sources};
    }
    test::TempFolder folder_;
    std::string path_ = folder_.file("favorites.xml");
};

TEST_F(FavoritesEditorTest, AStationGoesAtTheEndAndEveryOtherByteStays) {
    const FavoriteStation added{"Radio \xC3\xA9t\xC3\xA9 & <Friends>", "https://radio.example/?a=1&b=2",
                                {"https://radio.example/live.aac"}};
    ASSERT_EQ(addFavorite(path_, added), FavoriteAddResult::Added);
    const std::string after = test::readFile(path_);
    const std::size_t insertAt = kUserFile.rfind("</Favorites>");
    EXPECT_EQ(after.substr(0, insertAt), kUserFile.substr(0, insertAt));
    EXPECT_EQ(after.substr(after.size() - (kUserFile.size() - insertAt)), kUserFile.substr(insertAt));
    // In the file's encoding and line ends.
    EXPECT_NE(after.find("title=\"Radio \xE9t\xE9 &amp; &lt;Friends&gt;\""), std::string::npos) << after;
    EXPECT_NE(after.find(">\r\n   <Station title=\"Radio"), std::string::npos) << after;
    // The numbering a reload gives: after the group's one and "Two".
    const auto [title, sources] = station(3);
    EXPECT_EQ(title, "Radio \xC3\xA9t\xC3\xA9 & <Friends>");
    EXPECT_EQ(sources, std::vector<std::string>{"https://radio.example/live.aac"});

    // The same source again: nothing changes.
    EXPECT_EQ(addFavorite(path_, {"Again", "", {" https://radio.example/live.aac "}}), FavoriteAddResult::AlreadyThere);
    EXPECT_EQ(test::readFile(path_), after);
}

TEST_F(FavoritesEditorTest, IntoANamedGroupOrRefusedWithoutHarm) {
    ASSERT_EQ(addFavorite(path_, {"Late Night", "", {"http://c/3"}}, "Jazz \xC3\xA9t\xC3\xA9"), FavoriteAddResult::Added);
    EXPECT_EQ(station(2).first, "Late Night");  // the group's second station
    EXPECT_EQ(station(3).first, "Two");

    const std::string before = test::readFile(path_);
    EXPECT_EQ(addFavorite(path_, {"X", "", {"http://d/4"}}, "No Such Group"), FavoriteAddResult::NoSuchGroup);
    EXPECT_EQ(addFavorite(path_, {"X", "", {}}), FavoriteAddResult::NotAList);
    EXPECT_EQ(test::readFile(path_), before);

    test::writeFile(path_, "<Favorites><Station title=\"cut\"");
    EXPECT_EQ(addFavorite(path_, {"X", "", {"http://d/4"}}), FavoriteAddResult::NotAList);
    EXPECT_EQ(addFavorite(folder_.file("missing.xml"), {"X", "", {"http://d/4"}}), FavoriteAddResult::NotAList);

    // An empty list opens up for its first station.
    test::writeFile(path_, "<Favorites/>\n");
    ASSERT_EQ(addFavorite(path_, {"First", "", {"http://e/5"}}), FavoriteAddResult::Added);
    EXPECT_EQ(station(1).first, "First");
}

}  // namespace
}  // namespace korvanel
