#include "frontend/media_player_model.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

using Split = std::pair<std::vector<std::string>, std::string>;

TEST(MediaPlayerModel, ArtistAndTitleSplitAtTheFirstSpacedDashOnly) {
    EXPECT_EQ(MediaPlayerModel::splitArtistAndTitle("Artist - Song"), (Split{{"Artist"}, "Song"}));
    EXPECT_EQ(MediaPlayerModel::splitArtistAndTitle("AC-DC - Back - In Black"), (Split{{"AC-DC"}, "Back - In Black"}));
    // No artist on either side: the whole text is the title.
    for (const char* text : {"News", "Jean-Michel", " - Song", "Artist - ", ""}) {
        EXPECT_EQ(MediaPlayerModel::splitArtistAndTitle(text), (Split{{}, text})) << text;
    }
}

}  // namespace
}  // namespace korvanel
