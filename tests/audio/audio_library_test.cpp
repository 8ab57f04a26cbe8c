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

    const StreamHandle stream =
        library.streamCreateUrl("http://host/a", 0, audio::kStreamDecode, nullptr);
    ASSERT_TRUE(stream);
    std::uint8_t buffer[4];
    EXPECT_EQ(library.channelGetData(stream, buffer), 4);
    EXPECT_EQ(library.channelGetData(stream, buffer), 2);
    EXPECT_EQ(library.channelGetData(stream, buffer), 0);  // live: nothing yet
    EXPECT_EQ(library.channelIsActive(stream), ActiveState::Playing);
    library.endStream(stream);
    EXPECT_EQ(library.channelGetData(stream, buffer), audio::kDataError);
    EXPECT_EQ(library.channelIsActive(stream), ActiveState::Stopped);
}

TEST(FakeAudioLibrary, ReportsErrorsPerCallingThread) {
    test::FakeAudioLibrary library;
    library.setDevices({"Card"});
    EXPECT_FALSE(library.streamCreateUrl("http://nowhere/", 0, audio::kStreamDecode, nullptr));
    EXPECT_EQ(library.errorCode(), AudioError::FileOpen);
    EXPECT_TRUE(library.init(1, audio::kOutputFrequency));
    EXPECT_FALSE(library.init(1, audio::kOutputFrequency));
    EXPECT_EQ(library.errorCode(), AudioError::Already);
    EXPECT_FALSE(library.init(2, audio::kOutputFrequency));
    EXPECT_EQ(library.errorCode(), AudioError::Device);
}

}  // namespace
}  // namespace korvanel
