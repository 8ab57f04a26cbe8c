#include "frontend/play_history.h"

#include <gtest/gtest.h>

#include "settings/settings_store.h"

namespace korvanel {
namespace {

std::vector<std::string> sourcesOf(const PlayHistory& history) {
    std::vector<std::string> sources;
    for (const auto& entry : history.entries()) {
        sources.push_back(entry.source);
    }
    return sources;
}

HistoryEntry station(const std::string& source) { return {source, "Name " + source, "http://site/" + source}; }

TEST(PlayHistory, RepeatsCollapseOnlyAtTheFrontAndTheBoundDropsOneAtATime) {
    PlayHistory history;
    history.recordStart(station("A"), 5);
    history.recordStart(station("A"), 5);
    EXPECT_EQ(sourcesOf(history), (std::vector<std::string>{"A"}));
    history.recordStart(station("B"), 5);
    history.recordStart(station("A"), 5);
    EXPECT_EQ(sourcesOf(history), (std::vector<std::string>{"A", "B", "A"}));

    PlayHistory bounded;
    for (const char* source : {"1", "2", "3", "4"}) {
        bounded.recordStart(station(source), 3);
    }
    EXPECT_EQ(sourcesOf(bounded), (std::vector<std::string>{"4", "3", "2"}));
    // Sources compare exactly.
    bounded.recordStart(station("4 "), 3);
    EXPECT_EQ(sourcesOf(bounded).front(), "4 ");
}

TEST(PlayHistory, StoredHistoryLongerThanALoweredBoundKeepsItsLength) {
    SettingsStore settings;
    PlayHistory stored;
    for (const char* source : {"e", "d", "c", "b", "a"}) {
        stored.recordStart(station(source), 10);
    }
    stored.save(settings);

    PlayHistory history;
    ASSERT_TRUE(history.load(settings));
    EXPECT_EQ(sourcesOf(history), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(history.entries()[0], station("a"));
    history.recordStart(station("new"), 3);
    EXPECT_EQ(history.entries().size(), 5u);
    EXPECT_FALSE(history.load(settings));  // only into an empty history
}

TEST(PlayHistory, KeysAreNumberedAndAGapEndsLoading) {
    SettingsStore settings;
    settings.setString("Session/History/H00_Source", "http://zero/");
    settings.setString("Session/History/H00_Title", "Zero");
    settings.setString("Session/History/H02_Source", "http://two/");
    PlayHistory history;
    ASSERT_TRUE(history.load(settings));
    EXPECT_EQ(sourcesOf(history), (std::vector<std::string>{"http://zero/"}));
    EXPECT_EQ(history.entries()[0].stationName, "Zero");
    EXPECT_EQ(PlayHistory::key(7, "URL"), "Session/History/H07_URL");
    EXPECT_EQ(PlayHistory::key(100, "Source"), "Session/History/H100_Source");
}

}  // namespace
}  // namespace korvanel
