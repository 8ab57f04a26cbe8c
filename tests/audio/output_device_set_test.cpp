#include "audio/output_device_set.h"

#include <gtest/gtest.h>

#include "tests/support/fake_audio_library.h"

namespace korvanel {
namespace {

class OutputDeviceSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        library_.setDevices({"One", "Two", "Three"});
        ASSERT_TRUE(library_.init(audio::kNoSoundDevice, audio::kOutputFrequency));
    }

    AudioResult<std::vector<AudioStream*>> open() {
        return cards_.openOutputs(
            library_, 44100, 2, [](int) -> SampleCallback { return [](std::span<std::uint8_t>) { return 0u; }; },
            [this](int slot, AudioStream&) { slots_.push_back(slot); });
    }

    test::FakeAudioLibrary library_;
    OutputDeviceSet cards_;
    std::vector<int> slots_;
};

TEST_F(OutputDeviceSetTest, ListedCardsGetASlotEachAndAreFreedLastFirst) {
    cards_.setList("3,9,1");
    ASSERT_TRUE(cards_.prepare(library_));
    EXPECT_EQ(cards_.slotCount(), 2) << "device 9 does not exist";
    const auto made = open();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->size(), 2u);
    EXPECT_EQ(slots_, (std::vector<int>{0, 1}));
    EXPECT_EQ(library_.outputStreams().size(), 2u);

    const std::vector<OutputDeviceSet::Card> cards = cards_.stopOutputs();
    EXPECT_TRUE(library_.outputStreams().empty());
    EXPECT_TRUE(cards_.empty());
    library_.clearCalls();
    OutputDeviceSet::freeCards(library_, cards);
    EXPECT_EQ(library_.calls(), (std::vector<std::string>{"setDevice(1)", "freeDevice()@1", "setDevice(3)",
                                                          "freeDevice()@3"}));
}

TEST_F(OutputDeviceSetTest, WhenNoCardMakesAnOutputTheLastFailureIsTheReason) {
    cards_.setList("1,2");
    ASSERT_TRUE(cards_.prepare(library_));
    library_.failOutputsOnDevice(1, AudioError::Memory);
    library_.failOutputsOnDevice(2, AudioError::Driver);
    const auto made = open();
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().kind, AudioError::Driver);
    EXPECT_TRUE(slots_.empty());
}

TEST_F(OutputDeviceSetTest, AnUnusableCardIsLeftOutAndAnInitialisedOneIsUsedAgain) {
    library_.setInitError(2, AudioError::Driver);
    cards_.setList("2");
    EXPECT_FALSE(cards_.prepare(library_));
    EXPECT_EQ(cards_.slotCount(), 0);

    cards_.setList("1");
    ASSERT_TRUE(cards_.prepare(library_));
    // Still initialised from the prepare before: the card plays again, once.
    ASSERT_TRUE(cards_.prepare(library_));
    EXPECT_EQ(cards_.slotCount(), 1);
    const auto made = open();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->size(), 1u);
}

TEST_F(OutputDeviceSetTest, TheVolumeReachesEveryPlayingOutput) {
    cards_.setList("1,2");
    ASSERT_TRUE(cards_.prepare(library_));
    ASSERT_TRUE(open());
    cards_.setVolume(40);
    for (const StreamId stream : library_.outputStreams()) {
        EXPECT_EQ(library_.output(stream)->volume, 40);
    }
}

}  // namespace
}  // namespace korvanel
