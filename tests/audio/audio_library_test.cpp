#include "audio/audio_library.h"

#include <gtest/gtest.h>

#include "tests/support/fake_audio_library.h"

namespace korvanel {
namespace {

TEST(AudioErrorText, KnownCodesHaveTheirTextsAndOthersReadNoError) {
    EXPECT_STREQ(audioErrorText(AudioError::Timeout), "Connection timeout");
    EXPECT_STREQ(audioErrorText(AudioError::Decode), "The channel is a \"decoding channel\"");
    EXPECT_STREQ(audioErrorText(AudioError::Unknown), "Some other mystery error");
    EXPECT_STREQ(audioErrorText(AudioError::Ok), "No error");
    EXPECT_STREQ(audioErrorText(static_cast<AudioError>(10)), "No error");
    EXPECT_STREQ(audioErrorText(static_cast<AudioError>(43)), "No error");
}

TEST(FakeAudioLibrary, DecodingStreamHandsOutScriptedPcmThenEnds) {
    test::FakeAudioLibrary library;
    test::FakeAudioLibrary::ScriptedStream script;
    script.pcm = {1, 2, 3, 4, 5, 6};
    library.scriptStream("http://host/a", script);

    const AudioResult<StreamHandle> opened =
        library.streamCreateUrl("http://host/a", 0, audio::kStreamDecode, nullptr);
    ASSERT_TRUE(opened);
    const StreamHandle stream = *opened;
    std::uint8_t buffer[4];
    EXPECT_EQ(library.channelGetData(stream, buffer), 4u);
    EXPECT_EQ(library.channelGetData(stream, buffer), 2u);
    EXPECT_EQ(library.channelGetData(stream, buffer), 0u);  // live: nothing yet
    EXPECT_EQ(library.channelIsActive(stream), ActiveState::Playing);
    library.endStream(stream);
    const AudioResult<std::uint32_t> ended = library.channelGetData(stream, buffer);
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().kind, AudioError::NotPlaying);
    EXPECT_EQ(library.channelIsActive(stream), ActiveState::Stopped);
}

TEST(FakeAudioLibrary, EachCallReportsItsOwnError) {
    test::FakeAudioLibrary library;
    library.setDevices({"Card"});
    const AudioResult<StreamHandle> nowhere =
        library.streamCreateUrl("http://nowhere/", 0, audio::kStreamDecode, nullptr);
    ASSERT_FALSE(nowhere);
    EXPECT_EQ(nowhere.error().kind, AudioError::FileOpen);
    EXPECT_TRUE(library.init(1, audio::kOutputFrequency));
    const AudioResult<void> again = library.init(1, audio::kOutputFrequency);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().kind, AudioError::Already);
    const AudioResult<void> missing = library.init(2, audio::kOutputFrequency);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, AudioError::Device);
    EXPECT_EQ(nowhere.error().kind, AudioError::FileOpen) << "a later failure leaves an earlier result as it was";
}

}  // namespace
}  // namespace korvanel
