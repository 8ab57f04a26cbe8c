#include "audio/title_timeline.h"

#include <gtest/gtest.h>

#include "audio/stream_info.h"
#include "tests/support/output_test_doubles.h"

namespace korvanel {
namespace {

class TitleTimelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        info_.setKind(StreamKind::Mp3);
        timeline_.start(&parser_);
        timeline_.claim(0, firstCard_);
    }

    static SyncEvent metadata(const std::string& title, std::optional<std::uint64_t> position,
                              std::uint32_t ticket = 0) {
        SyncEvent event;
        event.texts = {"StreamTitle='" + title + "';"};
        event.position = position;
        event.data = ticket;
        return event;
    }

    // The cards' streams, which the timeline only keeps the address of.
    AudioStream firstCard_;
    AudioStream secondCard_;
    StreamInfo info_;
    test::OutputRecordingSink recorder_;
    test::ChannelNoticeLog jobs_;
    MetadataParser parser_{info_, &recorder_, &jobs_};
    TitleTimeline timeline_;
};

TEST_F(TitleTimelineTest, AReadingWaitsUntilTheTitleCardHasPlayedUpToItsPlace) {
    timeline_.arrived(metadata("Later", 4000));
    EXPECT_EQ(info_.title(), "");
    EXPECT_FALSE(timeline_.pulled(1, 1024)) << "only the title card tells the time";
    ASSERT_TRUE(timeline_.pulled(0, 1024));
    timeline_.heardUpTo(3999);
    EXPECT_EQ(info_.title(), "");
    timeline_.heardUpTo(4000);
    EXPECT_EQ(info_.title(), "Later");
    EXPECT_FALSE(timeline_.pulled(0, 1024)) << "nothing waits any more";
}

TEST_F(TitleTimelineTest, MetadataWithoutAPlaceIsHeardAtOnceAndATicketWaitsForItsPlace) {
    timeline_.arrived(metadata("Now", std::nullopt));
    EXPECT_EQ(info_.title(), "Now");

    timeline_.arrived(metadata("Ticketed", std::nullopt, 5));
    EXPECT_EQ(info_.title(), "Now");
    SyncEvent wrongTicket;
    wrongTicket.data = 6;
    wrongTicket.position = 100;
    timeline_.placed(wrongTicket);
    SyncEvent place;
    place.data = 5;
    place.position = 800;
    timeline_.placed(place);
    ASSERT_TRUE(timeline_.pulled(0, 256));
    timeline_.heardUpTo(799);
    EXPECT_EQ(info_.title(), "Now");
    timeline_.heardUpTo(800);
    EXPECT_EQ(info_.title(), "Ticketed");
}

TEST_F(TitleTimelineTest, TheFirstCardClaimedKeepsTheTitlesUntilCleared) {
    timeline_.claim(1, secondCard_);
    EXPECT_EQ(timeline_.titleStream(), &firstCard_);
    timeline_.arrived(metadata("Waiting", 100));
    timeline_.clear();
    EXPECT_EQ(timeline_.titleStream(), nullptr);
    EXPECT_FALSE(timeline_.pulled(0, 256)) << "no title card after a clear";
    timeline_.claim(1, secondCard_);
    EXPECT_FALSE(timeline_.pulled(1, 256)) << "the waiting reading went with the clear";
    EXPECT_EQ(info_.title(), "");
}

}  // namespace
}  // namespace korvanel
