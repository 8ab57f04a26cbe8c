#include "audio/audio_library.h"

#include <gtest/gtest.h>

#include "tests/support/fake_audio_library.h"

#include <utility>

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

    AudioResult<AudioStream> opened = library.openUrl("http://host/a", 0, audio::kStreamDecode, nullptr);
    ASSERT_TRUE(opened);
    AudioStream& stream = *opened;
    std::uint8_t buffer[4];
    EXPECT_EQ(stream.read(buffer), 4u);
    EXPECT_EQ(stream.read(buffer), 2u);
    EXPECT_EQ(stream.read(buffer), 0u);  // live: nothing yet
    EXPECT_EQ(stream.activity(), ActiveState::Playing);
    library.endStream(test::FakeAudioLibrary::idOf(stream));
    const AudioResult<std::uint32_t> ended = stream.read(buffer);
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().kind, AudioError::NotPlaying);
    EXPECT_EQ(stream.activity(), ActiveState::Stopped);
}

TEST(FakeAudioLibrary, EachCallReportsItsOwnError) {
    test::FakeAudioLibrary library;
    library.setDevices({"Card"});
    const AudioResult<AudioStream> nowhere = library.openUrl("http://nowhere/", 0, audio::kStreamDecode, nullptr);
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

// Streams and syncs are owned: each goes with its object, once, and a moved
// one belongs to its new owner alone.
TEST(AudioStreamObjects, AStreamAndItsSyncsGoWithTheirObjectsOnceEach) {
    test::FakeAudioLibrary library;
    library.scriptStream("http://host/a", {});
    library.scriptStream("http://host/b", {});
    {
        AudioStream first = streamOrNone(library.openUrl("http://host/a", 0, audio::kStreamDecode, nullptr));
        ASSERT_TRUE(first);
        const StreamId id = test::FakeAudioLibrary::idOf(first);
        int fired = 0;
        AudioResult<AudioSync> sync = first.setSync(audio::kSyncEnd, 0, [&](const SyncEvent&) { ++fired; });
        ASSERT_TRUE(sync);
        ASSERT_TRUE(first.setLifelongSync(audio::kSyncStall, 0, [&](const SyncEvent&) { ++fired; }));
        EXPECT_EQ(library.syncCount(id), 2);
        {
            AudioSync moved = std::move(*sync);
            EXPECT_FALSE(*sync);
            EXPECT_EQ(library.syncCount(id), 2) << "a move removes nothing";
        }
        EXPECT_EQ(library.syncCount(id), 1) << "the sync went with its last owner";
        EXPECT_EQ(library.fireSync(id, audio::kSyncEnd), 0);
        EXPECT_EQ(library.fireSync(id, audio::kSyncStall), 1);
        EXPECT_EQ(fired, 1);

        // Taking another stream's place frees the one held before.
        AudioStream second = streamOrNone(library.openUrl("http://host/b", 0, audio::kStreamDecode, nullptr));
        first = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_EQ(library.decodingStreams().size(), 1u);
        EXPECT_NE(test::FakeAudioLibrary::idOf(first), id);
        library.clearCalls();
    }
    EXPECT_TRUE(library.decodingStreams().empty());
    EXPECT_EQ(library.calls().size(), 1u) << "freed once, by its last owner";

    // An empty stream answers without a library: nothing there.
    AudioStream none;
    EXPECT_EQ(failureKind(none.play()), AudioError::Handle);
    EXPECT_EQ(failureKind(none.free()), AudioError::Handle);
    EXPECT_EQ(none.activity(), ActiveState::Stopped);
    EXPECT_EQ(none.level(), audio::kLevelError);
    EXPECT_EQ(none.length(), audio::kUnknownLength);
    EXPECT_FALSE(none.tags(audio::kTagMeta));
    EXPECT_EQ(failureKind(AudioSync().remove()), AudioError::Handle);
}

// A stream freed by its library (its device went) fails its calls with
// Handle, and freeing it leaves an empty object.
TEST(AudioStreamObjects, AStreamItsLibraryFreedFailsItsCalls) {
    test::FakeAudioLibrary library;
    library.setDevices({"Card"});
    ASSERT_TRUE(library.init(1, audio::kOutputFrequency));
    ASSERT_TRUE(library.setDevice(1));
    AudioStream output = streamOrNone(library.openOutput(44100, 2, 0, [](std::span<std::uint8_t>) { return 0u; }));
    ASSERT_TRUE(output);
    ASSERT_TRUE(library.freeDevice());
    EXPECT_EQ(failureKind(output.play()), AudioError::Handle);
    EXPECT_EQ(failureKind(output.info()), AudioError::Handle);
    EXPECT_EQ(failureKind(output.free()), AudioError::Handle);
    EXPECT_FALSE(output);
}

}  // namespace
}  // namespace korvanel
