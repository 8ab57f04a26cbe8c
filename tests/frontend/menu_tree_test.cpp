#include "frontend/menu_tree.h"
#include "frontend/messenger_string.h"

#include <fstream>

#include <gtest/gtest.h>

#include "app/application.h"
#include "app/empty_window.h"
#include "frontend/play_history.h"
#include "frontend/display_model.h"
#include "frontend/window_commands.h"
#include "frontend/window_events.h"
#include "stream/playlist_resolver.h"
#include "tests/support/fake_audio_library.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

class SilentView : public WindowView {
public:
    void addLogLine(LogKind, const std::string&) override {}
    void setStatusText(int, const std::string&) override {}
    void refresh(DisplayPart) override {}
    void showMessage(MessageIcon, const std::string&, const std::string&) override {}
};

constexpr const char* kFavorites = R"(<?xml version="1.0" encoding="UTF-8"?>
<Favorites>
   <Group title="Jazz &amp; Blues">
      <Station title="First" url="https://first.example/"><Source>http://radio/first</Source></Station>
   </Group>
   <Separator/>
   <Station title="Second" url="https://second.example/">
      <Source>http://radio/second-a</Source><Source>http://radio/second-b</Source>
   </Station>
</Favorites>
)";

// The menus and commands over the real core, with no window.
class MenuTreeTest : public ::testing::Test {
protected:
    MenuTreeTest()
        : env_("KORVANEL_HOME", home_.path()),
          noServer_("KORVANEL_UPDATE_SERVER", "http://127.0.0.1:1"),
          app_([](Application&) { return std::make_unique<EmptyWindow>(); },
               [] { return std::make_unique<test::FakeAudioLibrary>(); }),
          events_(app_, view_),
          commands_(app_, events_) {}

    MenuEntry bar(WindowMenuState state = {}) { return buildMenuBar(app_, events_, state); }
    static const MenuEntry& popup(const MenuEntry& bar, std::size_t index) { return bar.children.at(index); }
    static const MenuEntry* find(const MenuEntry& popup, int id) {
        for (const MenuEntry& entry : popup.children) {
            if (entry.kind == MenuEntry::Kind::Item && entry.id == id) {
                return &entry;
            }
            if (const MenuEntry* inner = entry.kind == MenuEntry::Kind::Popup ? find(entry, id) : nullptr) {
                return inner;
            }
        }
        return nullptr;
    }
    void storeHistory(const std::vector<HistoryEntry>& entries) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            app_.settings().setString(PlayHistory::key(i, "Source"), entries[i].source);
            app_.settings().setString(PlayHistory::key(i, "Title"), entries[i].stationName);
            app_.settings().setString(PlayHistory::key(i, "URL"), entries[i].stationUrl);
        }
        ASSERT_TRUE(events_.loadHistory(app_.settings()));
    }

    test::TempFolder home_;
    test::ScopedEnv env_;
    test::ScopedEnv noServer_;
    Application app_;
    SilentView view_;
    WindowEvents events_;
    WindowCommands commands_;
};

TEST_F(MenuTreeTest, TheMenuBarShowsTheCoreAsItIsNow) {
    MenuEntry menus = bar();
    std::vector<std::string> tops;
    for (const MenuEntry& top : menus.children) {
        tops.push_back(top.caption);
    }
    EXPECT_EQ(tops, (std::vector<std::string>{"&File", "&Settings", "F&avorites", "&Presets", "&Recording",
                                              "&Window", "&Help"}));
    // No history yet, and lists that were never read: grey items.
    const MenuEntry& history = popup(menus, 0).children.at(0);
    ASSERT_EQ(history.children.size(), 1u);
    EXPECT_EQ(history.children[0].caption, "No History");
    EXPECT_FALSE(history.children[0].enabled);
    // Nothing plays: nothing to add.
    EXPECT_EQ(popup(menus, 2).children.at(0).id, command::kAddToFavorites);
    EXPECT_FALSE(popup(menus, 2).children.at(0).enabled);
    EXPECT_EQ(popup(menus, 2).children.at(2).caption, "Error parsing favorites");
    EXPECT_FALSE(popup(menus, 2).children.at(2).enabled);
    EXPECT_EQ(find(popup(menus, 4), command::kRecord)->caption, "Begin &Recording");
    EXPECT_FALSE(find(popup(menus, 5), command::kLogWindow)->checked);
    EXPECT_TRUE(bar({true, false, false}).children.at(5).children.at(0).checked);

    // Exactly one separation is checked, by its range; checks follow toggles.
    app_.soundEffects()->setSeparation(0.6);
    commands_.run(command::kCompressor);
    commands_.run(command::kAlwaysOnTop);
    menus = bar();
    for (const int id : {command::kSeparation100, command::kSeparation75, command::kSeparation50,
                         command::kSeparation25, command::kSeparation0}) {
        EXPECT_EQ(find(popup(menus, 1), id)->checked, id == command::kSeparation50) << id;
    }
    EXPECT_TRUE(find(popup(menus, 1), command::kCompressor)->checked);
    EXPECT_FALSE(find(popup(menus, 1), command::kReverseStereo)->checked);
    EXPECT_TRUE(find(popup(menus, 1), command::kAlwaysOnTop)->checked);
    EXPECT_TRUE(app_.settings().getBool("General/AlwaysOnTop"));
    commands_.run(command::kSeparation0);
    EXPECT_TRUE(find(popup(bar(), 1), command::kSeparation0)->checked);

    // Level Stations switches the leveller and the setting together.
    const bool levelling = app_.leveller().enabled();
    commands_.run(command::kLevelStations);
    EXPECT_EQ(find(popup(bar(), 1), command::kLevelStations)->checked, !levelling);
    EXPECT_EQ(app_.leveller().enabled(), !levelling);
    EXPECT_EQ(app_.settings().getBool("Sound/Levelling"), !levelling);
    commands_.run(command::kLevelStations);
    EXPECT_EQ(app_.settings().getBool("Sound/Levelling"), levelling);
}

TEST_F(MenuTreeTest, HistoryCaptionsAreLetteredCutAndShowTheirAmpersands) {
    EXPECT_EQ(historyCaption(0, {"http://a/", "Rock & Roll", ""}), "&a. Rock && Roll");
    EXPECT_EQ(historyCaption(26, {"http://a/", "Twenty-seventh", ""}), "&a. Twenty-seventh");
    EXPECT_EQ(historyCaption(2, {"http://radio/stream", "", ""}), "&c. http://radio/stream");
    EXPECT_EQ(historyCaption(1, {"s", std::string(40, 'x'), ""}), "&b. " + std::string(35, 'x') + "...");
    // Cut by characters, never inside one: 36 two-byte letters keep 35.
    std::string umlauts;
    for (int i = 0; i < 36; ++i) {
        umlauts += "\xc3\xa4";
    }
    EXPECT_EQ(historyCaption(3, {"s", umlauts, ""}), "&d. " + umlauts.substr(0, 70) + "...");
    // Control characters show as spaces, so no name splits its item.
    EXPECT_EQ(historyCaption(4, {"s", "One\tTwo\r\nThree\x7F", ""}), "&e. One Two  Three ");
}

TEST_F(MenuTreeTest, ThePlayingStationIsAddedToFavoritesOnceAndItsMenuGrows) {
    std::ofstream(home_.file("favorites.xml")) << kFavorites;
    commands_.run(command::kReloadFavorites);
    app_.streamInfo()->setSource("http://new.example/stream");
    app_.streamInfo()->setStationName("New FM");
    app_.streamInfo()->setStationUrl("https://new.example/");
    const std::size_t before = popup(bar(), 2).children.size();
    EXPECT_TRUE(popup(bar(), 2).children.at(0).enabled);
    EXPECT_EQ(commands_.run(command::kAddToFavorites), WindowCommands::Outcome::Handled);
    const MenuEntry favorites = popup(bar(), 2);
    ASSERT_EQ(favorites.children.size(), before + 1);
    EXPECT_EQ(favorites.children.back().caption, "New FM");
    const std::string file = test::readFile(home_.file("favorites.xml"));
    EXPECT_NE(file.find("<Station title=\"New FM\" url=\"https://new.example/\">"), std::string::npos) << file;
    // Again: the file stays as it is.
    commands_.run(command::kAddToFavorites);
    EXPECT_EQ(test::readFile(home_.file("favorites.xml")), file);
}

TEST_F(MenuTreeTest, StationsAreChosenFromTheirMenusAndTheHistoryMovesToTheFront) {
    std::ofstream(home_.file("favorites.xml")) << kFavorites;
    commands_.run(command::kReloadFavorites);
    const MenuEntry favorites = popup(bar(), 2);
    ASSERT_EQ(favorites.children.size(), 5u);
    EXPECT_EQ(favorites.children[2].caption, "Jazz && Blues");  // an ampersand, not a mnemonic
    EXPECT_EQ(favorites.children[2].children.at(0).id, command::kFavoritesBase + 1);
    EXPECT_EQ(favorites.children[3].kind, MenuEntry::Kind::Separator);

    app_.streamInfo()->setTitle("left over");
    EXPECT_EQ(commands_.run(command::kFavoritesBase + 2), WindowCommands::Outcome::Handled);
    EXPECT_EQ(app_.playlistResolver().workingList(),
              (std::vector<std::string>{"http://radio/second-a", "http://radio/second-b"}));
    EXPECT_EQ(app_.streamInfo()->stationName(), "Second");
    EXPECT_EQ(app_.streamInfo()->stationUrl(), "https://second.example/");
    EXPECT_EQ(app_.streamInfo()->title(), "");
    EXPECT_EQ(commands_.run(command::kFavoritesBase + 9), WindowCommands::Outcome::Ignored);
    EXPECT_EQ(commands_.run(command::kPresetsBase + 1), WindowCommands::Outcome::Ignored);  // no presets file

    storeHistory({{"http://a/", "A", ""}, {"http://b/", "B", ""}, {"http://c/", "C", "https://c.example/"}});
    const MenuEntry history = popup(bar(), 0).children.at(0);
    ASSERT_EQ(history.children.size(), 3u);
    EXPECT_EQ(history.children[2].caption, "&c. C");
    EXPECT_EQ(history.children[2].id, command::kHistoryBase + 2);
    EXPECT_EQ(commands_.run(command::kHistoryBase + 2), WindowCommands::Outcome::Handled);
    EXPECT_EQ(app_.playlistResolver().currentAddress(), "http://c/");
    EXPECT_EQ(app_.streamInfo()->stationUrl(), "https://c.example/");
    ASSERT_EQ(events_.history().entries().size(), 3u);
    EXPECT_EQ(events_.history().entries()[0].source, "http://c/");
    EXPECT_EQ(events_.history().entries()[1].source, "http://a/");
    EXPECT_EQ(commands_.run(command::kHistoryBase + 7), WindowCommands::Outcome::Ignored);

    // What only a window can do goes back to it; unknown ids do nothing.
    EXPECT_EQ(commands_.run(command::kExit), WindowCommands::Outcome::ForWindow);
    EXPECT_EQ(commands_.run(command::kLogWindow), WindowCommands::Outcome::ForWindow);
    EXPECT_EQ(commands_.run(2043), WindowCommands::Outcome::Ignored);
    app_.player().stop();
}

TEST(MessengerString, TokensExpandInOrderAndNeverTheirOwnValue) {
    EXPECT_EQ(expandTokens("%title% and %title%", {{"%title%", "<%title%>"}}), "<%title%> and <%title%>");
    // A later token expands what an earlier one inserted.
    EXPECT_EQ(expandTokens("%a%", {{"%a%", "%b%!"}, {"%b%", "B"}}), "B!");
    EXPECT_EQ(expandTokens("%TITLE% %title", {{"%title%", "x"}}), "%TITLE% %title");
    EXPECT_EQ(expandTokens("", {{"", "x"}}), "");
}

TEST_F(MenuTreeTest, CopyCommandsTakeWhatTheWindowShows) {
    app_.streamInfo()->setStationName("Jazz & More");
    app_.streamInfo()->setTitle("Artist - Song");
    app_.playlistResolver().setSource("http://radio/jazz");
    EXPECT_EQ(commands_.clipboardText(command::kCopyStationName, 0, 0), "Jazz & More");
    EXPECT_EQ(commands_.clipboardText(command::kCopyTrack, 0, 0), "Artist - Song");
    EXPECT_EQ(commands_.clipboardText(command::kCopySource, 0, 0), "http://radio/jazz");
    EXPECT_EQ(commands_.clipboardText(command::kCopyStationUrl, 0, 0), DisplayModel::kHomePage);
    EXPECT_EQ(commands_.clipboardText(command::kCopyMessenger, 0, 0),
              "/me is listening to (Artist - Song) at (Jazz & More) using Korvanel Radio v0.3.6");
    app_.streamInfo()->setSource("http://radio/jazz");
    app_.settings().setString("General/IRCString", "%source% %time% %version%%url%");
    EXPECT_EQ(commands_.clipboardText(command::kCopyMessenger, 1000, 62500),
              "http://radio/jazz 01:01 Korvanel Radio v0.3.6" + std::string(DisplayModel::kHomePage));
    EXPECT_EQ(commands_.clipboardText(command::kPlay, 0, 0), std::nullopt);
    EXPECT_EQ(commands_.run(command::kCopyTrack), WindowCommands::Outcome::ForWindow);
    // The right-click menu: Clipboard, a separator, always on top.
    const MenuEntry context = buildContextMenu(app_);
    ASSERT_EQ(context.children.size(), 3u);
    EXPECT_EQ(context.children[0].caption, "&Clipboard");
    EXPECT_EQ(context.children[0].children.at(1).id, command::kPlayFromClipboard);
    EXPECT_EQ(context.children[2].id, command::kAlwaysOnTop);
}

}  // namespace
}  // namespace korvanel
