#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "audio/engine/sample_playout.h"
#include "audio/engine/stream_callbacks.h"
#include "audio/engine/title_placement.h"

namespace korvanel {
namespace {

struct Fired {
    std::uint32_t type = 0;
    std::uint32_t data = 0;
    std::optional<std::uint64_t> position;
};

TEST(TitlePlacement, TheFirstBlockAppliesFromTheStartAndLaterOnesFromWhereDecodingPlacesThem) {
    StreamCallbacks callbacks;
    std::vector<Fired> fired;
    const auto note = [&](const SyncEvent& event) { fired.push_back({0, event.data, event.position}); };
    callbacks.addSync(SyncId{1}, audio::kSyncMeta, note);
    callbacks.addSync(SyncId{2}, audio::kSyncMetaPlaced, note);
    TitlePlacement titles(callbacks);

    EXPECT_FALSE(titles.textAt(0));
    titles.announce("StreamTitle='A';", 0, 0);
    titles.announce("StreamTitle='B';", 1000, 0);  // after 1000 compressed bytes
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].position, 0u);
    EXPECT_EQ(fired[1].position, std::nullopt) << "not placed before decoding gets there";
    EXPECT_NE(fired[1].data, 0u) << "a ticket for the placing";

    titles.decoded(500, 8000, 4);
    EXPECT_EQ(fired.size(), 2u);
    titles.decoded(1500, 8000, 4);  // byte 1000 sits halfway into this step
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[2].data, fired[1].data);
    EXPECT_EQ(fired[2].position, 12000u);
    EXPECT_EQ(titles.decodedBytes(), 16000u);

    EXPECT_EQ(titles.textAt(11999), "StreamTitle='A';");
    EXPECT_EQ(titles.textAt(12000), "StreamTitle='B';");
}

class SamplePlayoutTest : public ::testing::Test {
protected:
    SamplePlayout playout_{200, [this](std::uint32_t type, std::uint32_t data) { events_.emplace_back(type, data); }};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> events_;
};

TEST_F(SamplePlayoutTest, RunningDryStallsRefillingResumesAndTheLastReadEnds) {
    std::vector<std::uint8_t> buffer(64);
    EXPECT_EQ(playout_.read(buffer), 0) << "nothing before the ring exists";
    ASSERT_TRUE(playout_.create(1000, 2, false));  // 4 bytes a frame, 4000 a second
    EXPECT_FALSE(playout_.create(1000, 2, false));
    EXPECT_EQ(playout_.frameBytes(), 4u);

    ASSERT_TRUE(playout_.write(std::vector<std::uint8_t>(8, 1)));
    std::vector<std::uint8_t> odd(7);
    EXPECT_EQ(playout_.read(odd), 4) << "whole frames only";
    EXPECT_EQ(playout_.read(buffer), 4);
    EXPECT_EQ(playout_.read(buffer), 0);
    EXPECT_EQ(events_, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{audio::kSyncStall, audio::kStallData}}));
    EXPECT_EQ(playout_.state(), ActiveState::Stalled);

    // Resumes only once refilled to the resume level (here a second's worth).
    ASSERT_TRUE(playout_.write(std::vector<std::uint8_t>(100, 2)));
    EXPECT_EQ(playout_.read(buffer), 0);
    ASSERT_TRUE(playout_.write(std::vector<std::uint8_t>(4000, 3)));
    EXPECT_EQ(playout_.read(buffer), 64);
    EXPECT_EQ(events_.back(), std::make_pair(audio::kSyncStall, audio::kResumeData));
    EXPECT_EQ(playout_.position(), 72);

    playout_.finish();
    std::vector<std::uint8_t> all(8192);
    EXPECT_GT(playout_.read(all), 0);
    EXPECT_EQ(events_.back(), std::make_pair(audio::kSyncEnd, std::uint32_t{0})) << "the end goes out with the last samples";
    EXPECT_EQ(playout_.read(all), -1);
    EXPECT_EQ(playout_.state(), ActiveState::Stopped);
    EXPECT_EQ(std::count(events_.begin(), events_.end(), std::make_pair(audio::kSyncEnd, std::uint32_t{0})), 1);
}

TEST_F(SamplePlayoutTest, ARingMadeAfterACancelTakesNothing) {
    ASSERT_TRUE(playout_.create(1000, 2, true));
    EXPECT_FALSE(playout_.write(std::vector<std::uint8_t>(16, 1)));
}

}  // namespace
}  // namespace korvanel
