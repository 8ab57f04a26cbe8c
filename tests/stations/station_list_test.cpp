#include "stations/station_list.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::TempFolder;
using test::writeFile;

// Records what was built as indented lines: "3025 Title", "-", "[Group]".
class RecordingMenu : public StationMenu {
public:
    explicit RecordingMenu(std::vector<std::string>& lines, int depth = 0) : lines_(lines), depth_(depth) {}

    void appendItem(int id, const std::string& caption) override {
        lines_.push_back(indent() + std::to_string(id) + " " + caption);
    }
    void appendSeparator() override { lines_.push_back(indent() + "-"); }
    StationMenu& appendPopup(const std::string& caption) override {
        lines_.push_back(indent() + "[" + caption + "]");
        children_.push_back(std::make_unique<RecordingMenu>(lines_, depth_ + 1));
        return *children_.back();
    }

private:
    std::string indent() const { return std::string(static_cast<std::size_t>(depth_) * 2, ' '); }
    std::vector<std::string>& lines_;
    int depth_;
    std::vector<std::unique_ptr<RecordingMenu>> children_;
};

class StationListTest : public ::testing::Test {
protected:
    StationList& listOf(const std::string& xml) {
        writeFile(folder_.file("list.xml"), xml);
        list_.setPath(folder_.file("list.xml"));
        list_.load();
        return list_;
    }
    std::vector<std::string> menuOf(int baseId = StationList::kFavoritesBaseId) {
        std::vector<std::string> lines;
        RecordingMenu menu(lines);
        built_ = list_.buildMenu(menu, baseId);
        return lines;
    }

    TempFolder folder_;
    StationList list_;
    int built_ = 0;
};

TEST_F(StationListTest, GroupsSeparatorsAndNumberingAgreeWithLookup) {
    listOf(R"(<?xml version="1.0" encoding="UTF-8"?>
<Favorites>
  <Group title="Jazz">
    <Station title="Smooth" url="http://smooth.example/"><Source>http://a/1</Source></Station>
    <Station url="http://untitled.example/"><Source>http://untitled/</Source></Station>
    <Station title="Bebop" url="http://bebop.example/">
      <S>http://b/1.pls</S><Other>mms://b/2</Other><x>http://b/3</x>
    </Station>
    <Group title="Empty"/>
  </Group>
  <Separator/>
  <Unknown><Station title="Hidden"><S>http://hidden/</S></Station></Unknown>
  <Station title="Top"><S>http://top/</S></Station>
</Favorites>)");
    EXPECT_EQ(menuOf(), (std::vector<std::string>{
                            "[Jazz]", "  3025 Smooth", "  3026 Bebop", "  [Empty]", "-", "3027 Top"}));
    EXPECT_EQ(built_, 3);

    EXPECT_EQ(list_.lookup(3), (std::vector<std::string>{"http://top/"}));
    EXPECT_EQ(list_.title(), "Top");
    EXPECT_EQ(list_.url(), "");
    EXPECT_EQ(list_.lookup(2), (std::vector<std::string>{"http://b/1.pls", "mms://b/2", "http://b/3"}));
    EXPECT_EQ(list_.title(), "Bebop");
    EXPECT_EQ(list_.url(), "http://bebop.example/");

    // No such station: empty, and title and url stay as they were.
    EXPECT_TRUE(list_.lookup(4).empty());
    EXPECT_TRUE(list_.lookup(0).empty());
    EXPECT_TRUE(list_.lookup(-1).empty());
    EXPECT_EQ(list_.title(), "Bebop");
}

TEST_F(StationListTest, UntitledGroupLendsItsItemsToTheEnclosingMenu) {
    listOf(R"(<L><Station title="One"><s>a</s></Station>
      <Group><Station title="Two"><s>b</s></Station></Group>
      <Station title="Three"><s>c</s></Station></L>)");
    EXPECT_EQ(menuOf(StationList::kPresetsBaseId),
              (std::vector<std::string>{"4025 One", "4026 Two", "4027 Three"}));
    EXPECT_EQ(list_.lookup(2), (std::vector<std::string>{"b"}));
    EXPECT_EQ(list_.lookup(3), (std::vector<std::string>{"c"}));
}

TEST_F(StationListTest, TextStaysUtf8) {
    listOf("<L><Station title=\"Caf\xC3\xA9 \xE4\xB8\xAD\" url=\"http://x/\xC3\xBC\"><s>http://a/\xC3\xA9</s></Station></L>");
    EXPECT_EQ(menuOf(), (std::vector<std::string>{"3025 Caf\xC3\xA9 \xE4\xB8\xAD"}));
    EXPECT_EQ(list_.lookup(1), (std::vector<std::string>{"http://a/\xC3\xA9"}));
    EXPECT_EQ(list_.url(), "http://x/\xC3\xBC");
}

TEST_F(StationListTest, BrokenMissingOrEmptyFilesGiveNoMenu) {
    for (const std::string& bad : {std::string("<L><Station title=\"x\">"), std::string(""),
                                   std::string("\0<L/>", 5), std::string("not xml at all")}) {
        listOf(bad);
        EXPECT_FALSE(list_.loaded());
        EXPECT_TRUE(menuOf().empty());
        EXPECT_EQ(built_, 0);
        EXPECT_TRUE(list_.lookup(1).empty());
    }
    listOf("<L><Station><s>untitled only</s></Station></L>");
    EXPECT_TRUE(list_.loaded());
    menuOf();
    EXPECT_EQ(built_, 0);

    list_.setPath(folder_.file("missing.xml"));
    list_.load();
    EXPECT_FALSE(list_.loaded());

    // Text after a zero byte is not part of the file.
    listOf(std::string("<L><Station title=\"A\"><s>a</s></Station></L>\0garbage<<<", 55));
    EXPECT_TRUE(list_.loaded());
}

TEST_F(StationListTest, DeepGroupsAreIgnoredBelowLevelFifteenWithoutBreakingTheWalk) {
    std::string xml = "<L>";
    for (int level = 1; level <= 20; ++level) {
        xml += "<Group title=\"G" + std::to_string(level) + "\">";
        xml += "<Station title=\"S" + std::to_string(level) + "\"><s>src" + std::to_string(level) + "</s></Station>";
    }
    for (int level = 1; level <= 20; ++level) {
        xml += "</Group>";
    }
    xml += "<Station title=\"After\"><s>after</s></Station></L>";
    listOf(xml);
    const auto lines = menuOf();
    EXPECT_EQ(built_, 16);
    EXPECT_EQ(lines.back(), "3040 After");
    EXPECT_EQ(list_.lookup(15), (std::vector<std::string>{"src15"}));  // the deepest kept level
    EXPECT_EQ(list_.lookup(16), (std::vector<std::string>{"after"}));
}

TEST_F(StationListTest, FavouritesBeyondAThousandGetNoMenuItemsAndAreLoggedOnce) {
    std::string xml = "<L>";
    for (int i = 1; i <= 1005; ++i) {
        xml += "<Station title=\"S" + std::to_string(i) + "\"><s>src" + std::to_string(i) + "</s></Station>";
    }
    xml += "</L>";
    listOf(xml);
    std::vector<std::string> logged;
    list_.setLogger([&logged](const std::string& line) { logged.push_back(line); });
    const auto lines = menuOf();
    EXPECT_EQ(built_, 1000);
    EXPECT_EQ(lines.back(), "4024 S1000");  // never a preset id
    menuOf();
    EXPECT_EQ(logged.size(), 1u);
    // Presets have room for them.
    menuOf(StationList::kPresetsBaseId);
    EXPECT_EQ(built_, 1005);
}

}  // namespace
}  // namespace korvanel

namespace korvanel {
namespace {

TEST(ShippedStationLists, LoadWithTitledStationsThatHavePlainHttpSources) {
    for (const auto& [file, minimum] : {std::pair<std::string, int>{"favorites.xml", 3},
                                        std::pair<std::string, int>{"presets.xml", 60}}) {
        StationList list;
        list.setPath(std::string(KORVANEL_BUILD_DIR) + "/" + file);
        list.load();
        ASSERT_TRUE(list.loaded()) << file;
        std::vector<std::string> lines;
        RecordingMenu menu(lines);
        const int stations = list.buildMenu(menu, StationList::kPresetsBaseId);
        EXPECT_GE(stations, minimum) << file;
        for (int n = 1; n <= stations; ++n) {
            const auto sources = list.lookup(n);
            ASSERT_FALSE(sources.empty()) << file << " station " << n;
            for (const auto& source : sources) {
                EXPECT_EQ(source.rfind("http://", 0), 0u) << list.title() << ": " << source;
            }
        }
    }
}

}  // namespace
}  // namespace korvanel
