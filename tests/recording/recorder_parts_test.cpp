// The recorder's parts on their own: which writer takes which stream, and
// when a chained Ogg recording moves to its next file.
#include <gtest/gtest.h>

#include "recording/ogg_chain_switch.h"
#include "recording/recording_writer_set.h"

namespace korvanel {
namespace {

using Route = RecordingWriterSet::Route;

TEST(RecordingWriterSet, RoutesEveryKindToRawBytesTheEncoderOrNothing) {
    for (const StreamKind kind : {StreamKind::Mp3, StreamKind::MpegLayer1, StreamKind::MpegLayer2,
                                  StreamKind::Mpeg2Layer1, StreamKind::Mpeg2Layer2, StreamKind::Mpeg2Layer3,
                                  StreamKind::Aac}) {
        EXPECT_EQ(RecordingWriterSet::routeFor(kind, false), Route::Raw);
        EXPECT_EQ(RecordingWriterSet::routeFor(kind, true), Route::Raw);
    }
    EXPECT_EQ(RecordingWriterSet::routeFor(StreamKind::OggVorbis, false), Route::Raw);
    EXPECT_EQ(RecordingWriterSet::routeFor(StreamKind::OggVorbis, true), Route::Encoder);
    EXPECT_EQ(RecordingWriterSet::routeFor(StreamKind::WindowsMedia, false), Route::Encoder);
    EXPECT_EQ(RecordingWriterSet::routeFor(StreamKind::Other, true), Route::None);
}

TEST(RecordingWriterSet, EachKindGetsItsWriterAndExtensionAndKeepsTheSameWriter) {
    RecordingWriterSet writers("libno-such-encoder.so");
    const auto mp3 = writers.choose(StreamKind::Mp3);
    ASSERT_NE(mp3.writer, nullptr);
    EXPECT_EQ(mp3.prober, mp3.writer);
    EXPECT_STREQ(mp3.extension, ".mp3");
    EXPECT_EQ(writers.choose(StreamKind::Mpeg2Layer2).writer, mp3.writer);  // every MPEG kind shares it

    const auto aac = writers.choose(StreamKind::Aac);
    ASSERT_NE(aac.writer, nullptr);
    EXPECT_NE(aac.writer, mp3.writer);
    EXPECT_STREQ(aac.extension, ".aac");

    const auto ogg = writers.choose(StreamKind::OggVorbis);
    ASSERT_NE(ogg.writer, nullptr);
    EXPECT_EQ(ogg.prober, ogg.writer);
    EXPECT_STREQ(ogg.extension, ".ogg");
    EXPECT_FALSE(writers.isEncoder(ogg.writer));

    const auto other = writers.choose(StreamKind::Other);
    EXPECT_EQ(other.writer, nullptr);
    EXPECT_EQ(other.prober, nullptr);
    EXPECT_EQ(other.extension, nullptr);  // the last extension stays
}

TEST(RecordingWriterSet, EncodedOggIsProbedByTheOggWriterAndWrittenByTheEncoder) {
    RecordingWriterSet writers("libno-such-encoder.so");
    StreamWriter* oggWriter = writers.choose(StreamKind::OggVorbis).writer;
    WriterSettings settings;
    settings.encodeOgg = true;
    writers.setSettings(settings);
    const auto encoded = writers.choose(StreamKind::OggVorbis);
    EXPECT_TRUE(writers.isEncoder(encoded.writer));
    EXPECT_EQ(encoded.prober, oggWriter);
    EXPECT_STREQ(encoded.extension, ".mp3");

    const auto windowsMedia = writers.choose(StreamKind::WindowsMedia);
    EXPECT_EQ(windowsMedia.writer, encoded.writer);
    EXPECT_EQ(windowsMedia.prober, nullptr);  // nothing reads its bytes
    EXPECT_FALSE(writers.isEncoder(nullptr));
}

TEST(OggChainSwitch, WaitsForTheTitleUntilHalfTheBufferLimitHasArrived) {
    OggChainSwitch chain;
    EXPECT_FALSE(chain.awaitingTitle());
    EXPECT_FALSE(chain.tookBytes(1 << 20, 1000));  // not waiting: nothing to end

    EXPECT_FALSE(chain.streamEnded(1000));
    EXPECT_TRUE(chain.awaitingTitle());
    EXPECT_FALSE(chain.tookBytes(300, 1000));
    EXPECT_FALSE(chain.tookBytes(200, 1000));  // exactly half still waits
    EXPECT_TRUE(chain.tookBytes(1, 1000));
    EXPECT_FALSE(chain.awaitingTitle());

    // A new end starts the count again.
    EXPECT_FALSE(chain.streamEnded(1000));
    EXPECT_FALSE(chain.tookBytes(500, 1000));
    chain.endWait();  // the title came
    EXPECT_FALSE(chain.awaitingTitle());
    EXPECT_FALSE(chain.tookBytes(1000, 1000));
}

TEST(OggChainSwitch, AWriterThatKeepsNothingOpensTheNextFileAtOnce) {
    OggChainSwitch chain;
    EXPECT_TRUE(chain.streamEnded(0));
    EXPECT_FALSE(chain.awaitingTitle());
}

}  // namespace
}  // namespace korvanel
