#include "audio/output_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "audio/channel_notice.h"
#include "audio/sound_effects.h"
#include "audio/stream_info.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/fake_audio_library.h"
#include "tests/support/output_test_doubles.h"

namespace korvanel {
namespace {

using Script = test::FakeAudioLibrary::ScriptedStream;

const std::string kMp3 = "http://radio.example:8000/live";
const std::string kOgg = "http://radio.example:8000/live.ogg";
constexpr std::uint32_t kOtherCodec = 0x10000;  // a codec of no known kind

std::vector<std::uint8_t> pattern(std::size_t bytes, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        data[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return data;
}

class OutputChannelTest : public ::testing::Test {
protected:
    OutputChannelTest() {
        registerDefaultSettings(settings_);
        auto library = std::make_unique<test::FakeAudioLibrary>();
        fake_ = library.get();
        fake_->setDevices({"Speakers", "Headphones"});
        channel_ = std::make_unique<OutputChannel>(std::move(library));
        EXPECT_TRUE(channel_->init());
        channel_->setStreamInfo(&info_);
        channel_->setRecorder(&recorder_);
        channel_->setNotices(&jobs_);
    }

    void script(const std::string& address, std::vector<std::uint8_t> pcm = pattern(64),
                std::uint32_t channelType = audio::kChannelTypeMp3) {
        Script stream;
        stream.info.channelType = channelType;
        stream.pcm = std::move(pcm);
        fake_->scriptStream(address, stream);
    }

    StreamId decoding() const {
        const auto streams = fake_->decodingStreams();
        return streams.empty() ? StreamId{} : streams.front();
    }

    std::vector<std::uint8_t> pull(StreamId output, std::size_t bytes,
                                   std::uint32_t* result = nullptr) {
        std::vector<std::uint8_t> buffer(bytes);
        const std::uint32_t given = fake_->pull(output, buffer);
        if (result != nullptr) {
            *result = given;
        }
        buffer.resize(given & ~audio::kSampleEnd);
        return buffer;
    }

    std::vector<int> outputDevices() const {
        std::vector<int> devices;
        for (const StreamId stream : fake_->outputStreams()) {
            devices.push_back(fake_->output(stream)->device);
        }
        return devices;
    }

    SettingsStore settings_;
    StreamInfo info_;
    test::OutputRecordingSink recorder_;
    test::ChannelNoticeLog jobs_;
    test::FakeAudioLibrary* fake_ = nullptr;
    std::unique_ptr<OutputChannel> channel_;
};

TEST_F(OutputChannelTest, DeviceListIsReadLikeAtoiAndTrimmedOfSpacesAndCommas) {
    EXPECT_EQ(OutputDeviceSet::parseList("1,2"), (std::vector<int>{1, 2}));
    EXPECT_EQ(OutputDeviceSet::parseList(" 2 ,x, -1,+3,3abc,99999999999,"),
              (std::vector<int>{2, 0, -1, 3, 3, 0, 0}));
    EXPECT_EQ(OutputDeviceSet::parseList(""), (std::vector<int>{0}));
    channel_->setDevices(" ,1,2, ,");
    EXPECT_EQ(channel_->devices(), "1,2");
}

TEST_F(OutputChannelTest, TwoDevicesPlayEverySourceFromTheSameSamples) {
    channel_->setDevices("1,2");
    script(kMp3);
    script(kOgg, pattern(64), audio::kChannelTypeOgg);
    for (const std::string& address : {kMp3, kOgg}) {
        ASSERT_EQ(outcomeOf(channel_->open(address)), OpenResult::Opened) << address;
        EXPECT_EQ(outputDevices(), (std::vector<int>{1, 2}));
        const auto outputs = fake_->outputStreams();
        for (const StreamId output : outputs) {
            EXPECT_TRUE(fake_->output(output)->playing);
            EXPECT_EQ(fake_->output(output)->flags, audio::kStreamAutoFree);
        }
        // Each device reads at its own pace from the same decoded data.
        const std::vector<std::uint8_t> data = pattern(64);
        EXPECT_EQ(pull(outputs[0], 40), std::vector<std::uint8_t>(data.begin(), data.begin() + 40));
        EXPECT_EQ(pull(outputs[1], 16), std::vector<std::uint8_t>(data.begin(), data.begin() + 16));
        EXPECT_EQ(pull(outputs[1], 48), std::vector<std::uint8_t>(data.begin() + 16, data.end()));
        channel_->close();
        EXPECT_TRUE(fake_->outputStreams().empty());
        EXPECT_TRUE(fake_->decodingStreams().empty());
        EXPECT_EQ(fake_->initialisedDevices(), (std::vector<int>{0}));
    }
}

TEST_F(OutputChannelTest, DevicesThatDoNotExistAreSkipped) {
    fake_->setDevices({"Speakers"});
    script(kMp3);
    channel_->setDevices("0,3,1");
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_EQ(outputDevices(), (std::vector<int>{1}));
    channel_->close();

    channel_->setDevices("2");
    const ChannelResult failed = channel_->open(kMp3);
    EXPECT_EQ(outcomeOf(failed), OpenResult::Fatal);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, AudioErrorKind::NoDevice);
    EXPECT_EQ(failed.error().text(), "No soundcard configured.");
    EXPECT_TRUE(fake_->decodingStreams().empty());
    channel_->close();
}

TEST_F(OutputChannelTest, DeviceInitialisationFailuresSkipOnlyUnusableDevices) {
    script(kMp3);
    channel_->setDevices("1,2");
    fake_->setInitError(2, AudioError::Driver);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_EQ(outputDevices(), (std::vector<int>{1}));
    channel_->close();

    // Any other failure still gets the device a try.
    fake_->setInitError(2, AudioError::Start);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_EQ(outputDevices(), (std::vector<int>{1}));  // the fake cannot create on it
    channel_->close();
}

TEST_F(OutputChannelTest, AnAlreadyInitialisedDeviceFromAFailedOpenIsUsedAgain) {
    script(kMp3);
    fake_->scriptFailure("http://dead.example/", AudioError::Timeout);
    channel_->setDevices("1,2");
    EXPECT_EQ(outcomeOf(channel_->open("http://dead.example/")), OpenResult::Timeout);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_EQ(outputDevices(), (std::vector<int>{1, 2}));
    channel_->close();
    EXPECT_EQ(fake_->initialisedDevices(), (std::vector<int>{0}));
}

TEST_F(OutputChannelTest, EveryLibraryErrorMapsToItsOpenResult) {
    const std::pair<AudioError, OpenResult> table[] = {
        {AudioError::Timeout, OpenResult::Timeout},
        {AudioError::Unknown, OpenResult::Timeout},
        {AudioError::FileOpen, OpenResult::Unsupported},
        {AudioError::Frequency, OpenResult::Unsupported},
        {AudioError::FileFormat, OpenResult::Unsupported},
        {AudioError::Playlist, OpenResult::Playlist},
        {AudioError::Memory, OpenResult::Fatal},
        {AudioError::Driver, OpenResult::Fatal},
        {AudioError::Handle, OpenResult::Fatal},
        {AudioError::Init, OpenResult::Fatal},
        {AudioError::Start, OpenResult::Fatal},
        {AudioError::Already, OpenResult::Fatal},
        {AudioError::IllegalType, OpenResult::Fatal},
        {AudioError::IllegalParameter, OpenResult::Fatal},
        {AudioError::Device, OpenResult::Fatal},
        {AudioError::NotPlaying, OpenResult::Fatal},
        {AudioError::NotAvailable, OpenResult::Fatal},
        {AudioError::Decode, OpenResult::Fatal},
        {AudioError::Ok, OpenResult::Failed},
        {static_cast<AudioError>(10), OpenResult::Failed},
        {static_cast<AudioError>(43), OpenResult::Failed},
    };
    for (const auto& [code, result] : table) {
        const std::string address = "http://host/" + std::to_string(static_cast<int>(code));
        fake_->scriptFailure(address, code);
        const ChannelResult failed = channel_->open(address);
        EXPECT_EQ(outcomeOf(failed), result) << static_cast<int>(code);
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().kind, AudioErrorKind::LibraryCall);
        EXPECT_EQ(failed.error().code, code);
        EXPECT_EQ(failed.error().text(), audioErrorText(code));
        EXPECT_EQ(OutputChannel::classify(code), result);
    }
    EXPECT_TRUE(fake_->decodingStreams().empty());
}

TEST_F(OutputChannelTest, AddressesNoDecoderTakesFailWithoutTouchingTheLibrary) {
    fake_->scriptFailure("http://host/slow", AudioError::Timeout);
    EXPECT_EQ(outcomeOf(channel_->open("http://host/slow")), OpenResult::Timeout);
    for (const std::string address : {"c:\\music\\a.mp3", "", "HTTP://host/a.mp3"}) {
        fake_->clearCalls();
        // Not the time-out of the address before: a path is never worth a retry.
        const ChannelResult failed = channel_->open(address);
        EXPECT_EQ(outcomeOf(failed), OpenResult::Unsupported) << address;
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().text(), "Can't open the file");
        for (const std::string& call : fake_->calls()) {
            EXPECT_EQ(call.find("Create"), std::string::npos) << call;
        }
    }
    fake_->setWindowsMediaAvailable(false);
    const ChannelResult undecodable = channel_->open("mms://host/live");
    EXPECT_EQ(outcomeOf(undecodable), OpenResult::Unsupported);
    ASSERT_FALSE(undecodable);
    EXPECT_EQ(undecodable.error().text(), "Unsupported file format");
}

TEST_F(OutputChannelTest, WindowsMediaAddressesGoToTheWindowsMediaDecoder) {
    script("mms://host/live", pattern(16), audio::kChannelTypeWindowsMedia);
    fake_->clearCalls();
    ASSERT_EQ(outcomeOf(channel_->open("mms://host/live")), OpenResult::Opened);
    const auto calls = fake_->calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "wmaStreamCreateFile(mms://host/live,0x240000)"),
              calls.end());
    EXPECT_EQ(info_.kind(), StreamKind::WindowsMedia);
    channel_->close();
    script(kMp3);
    fake_->clearCalls();
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto urlCalls = fake_->calls();
    EXPECT_NE(std::find(urlCalls.begin(), urlCalls.end(), "streamCreateUrl(" + kMp3 + ",0,0x600000)"),
              urlCalls.end());
}

TEST_F(OutputChannelTest, EndFlagOnlyOnceTheStreamEndedAndTheSlotReadEverything) {
    channel_->setDevices("1,2");
    script(kMp3, pattern(16));
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto outputs = fake_->outputStreams();
    std::uint32_t result = 0;
    EXPECT_EQ(pull(outputs[0], 8, &result).size(), 8u);
    EXPECT_EQ(result, 8u);
    EXPECT_EQ(pull(outputs[0], 16, &result).size(), 8u);
    EXPECT_EQ(result, 8u);  // everything read, but the live stream goes on
    EXPECT_EQ(pull(outputs[0], 16, &result).size(), 0u);
    EXPECT_EQ(result, 0u);

    fake_->endStream(decoding());
    pull(outputs[0], 16, &result);
    EXPECT_EQ(result, audio::kSampleEnd);
    // The other device has not read everything yet.
    EXPECT_EQ(pull(outputs[1], 8, &result).size(), 8u);
    EXPECT_EQ(result, 8u);
    EXPECT_EQ(pull(outputs[1], 16, &result).size(), 8u);
    EXPECT_EQ(result, 8u | audio::kSampleEnd);
}

TEST_F(OutputChannelTest, VolumeIsClampedToTheLibraryRangeOnEveryPlayingOutput) {
    EXPECT_EQ(OutputChannel::libraryVolume(1.0), 100);
    EXPECT_EQ(OutputChannel::libraryVolume(1.5), 100);
    EXPECT_EQ(OutputChannel::libraryVolume(1e300), 100);
    EXPECT_EQ(OutputChannel::libraryVolume(0.456), 45);
    EXPECT_EQ(OutputChannel::libraryVolume(0.0), 0);
    EXPECT_EQ(OutputChannel::libraryVolume(-0.2), 0);
    EXPECT_EQ(OutputChannel::libraryVolume(std::nan("")), 0);

    channel_->setDevices("1,2");
    channel_->setVolume(0.3);
    script(kMp3);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    for (const StreamId output : fake_->outputStreams()) {
        EXPECT_EQ(fake_->output(output)->volume, 30);
    }
    channel_->setVolume(2.0);
    EXPECT_DOUBLE_EQ(channel_->volume(), 2.0);
    for (const StreamId output : fake_->outputStreams()) {
        EXPECT_EQ(fake_->output(output)->volume, 100);
    }
    channel_->setVolume(-1.0);
    for (const StreamId output : fake_->outputStreams()) {
        EXPECT_EQ(fake_->output(output)->volume, 0);
    }
}

TEST_F(OutputChannelTest, NotificationsOfTheLastOutputGoToThePlayersQueue) {
    channel_->setDevices("1,2");
    script(kMp3);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto outputs = fake_->outputStreams();
    EXPECT_EQ(fake_->syncCount(outputs[0]), 0);
    EXPECT_EQ(fake_->syncCount(outputs[1]), 2);
    jobs_.clear();
    fake_->fireSync(outputs[1], audio::kSyncStall, audio::kStallData);
    fake_->fireSync(outputs[1], audio::kSyncStall, audio::kResumeData);
    fake_->fireSync(outputs[1], audio::kSyncEnd);
    EXPECT_EQ(jobs_.notices(), (std::vector<ChannelNotice>{ChannelNotice::Stalled, ChannelNotice::Resumed,
                                                         ChannelNotice::StreamEnded}));
    channel_->close();
    EXPECT_EQ(fake_->fireSync(outputs[1], audio::kSyncEnd), 0);
}

TEST_F(OutputChannelTest, StreamBytesGoToTheRecorderAsHeaderUntilOpenedThenAsData) {
    Script stream;
    stream.pcm = pattern(8);
    stream.downloadChunks = {{1, 2, 3}, {4}};
    fake_->scriptStream(kMp3, stream);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    fake_->download(decoding(), {5, 6});
    fake_->finishDownload(decoding());
    EXPECT_EQ(recorder_.headerBytes(), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(recorder_.streamBytes(), (std::vector<std::uint8_t>{5, 6}));
    const auto calls = recorder_.calls();
    const auto at = [&](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    EXPECT_LT(at("open"), at("header(3)"));
    EXPECT_LT(at("header(1)"), at("format(44100,2)"));
    EXPECT_LT(at("format(44100,2)"), at("stream(2)"));
    EXPECT_EQ(calls.back(), "close");
}

TEST_F(OutputChannelTest, RecorderGetsTheSamplesBeforeTheEffects) {
    SoundEffects effects(settings_);
    effects.setSwapChannels(true);
    channel_->setSoundEffects(&effects);
    script(kMp3, test::samplesToBytes({1, 2, 3, 4}));
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto played = pull(fake_->outputStreams().front(), 8);
    EXPECT_EQ(test::bytesToSamples(played), (std::vector<std::int16_t>{2, 1, 4, 3}));
    EXPECT_EQ(test::bytesToSamples(recorder_.pcm()), (std::vector<std::int16_t>{1, 2, 3, 4}));
    channel_->close();
    channel_->setSoundEffects(nullptr);
}

TEST_F(OutputChannelTest, OpeningFillsTheStreamInformationFromHeadersAndTags) {
    info_.setStationName("From the list");
    Script mp3;
    mp3.tags[audio::kTagIcy] = {"ICY 200 OK", "icy-name: Radio X ", "icy-url:http://x.example/"};
    mp3.tags[audio::kTagMeta] = {"StreamTitle='A - B';StreamUrl='';"};
    fake_->scriptStream(kMp3, mp3);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_EQ(info_.source(), kMp3);
    EXPECT_EQ(info_.kind(), StreamKind::Mp3);
    EXPECT_EQ(info_.stationName(), "Radio X");
    EXPECT_EQ(info_.stationUrl(), "http://x.example/");
    EXPECT_EQ(info_.title(), "A - B");
    EXPECT_EQ(jobs_.count(ChannelNotice::InfoParsed), 2);

    // A new title from the stream, then the same one again.
    fake_->fireSync(decoding(), audio::kSyncMeta, 0, {"StreamTitle='C - D';"});
    fake_->fireSync(decoding(), audio::kSyncMeta, 0, {"StreamTitle='C - D';"});
    EXPECT_EQ(info_.title(), "C - D");
    EXPECT_EQ(jobs_.count(ChannelNotice::InfoParsed), 3);
    channel_->close();

    // An Ogg station's name comes from the server's icy-name, as its
    // comments carry none; an empty TITLE is a new track without a title.
    Script ogg;
    ogg.info.channelType = audio::kChannelTypeOgg;
    ogg.tags[audio::kTagIcy] = {"HTTP/1.0 200 OK", "icy-name:Ogg FM"};
    ogg.tags[audio::kTagOgg] = {"ARTIST=Foo", "TITLE=Bar"};
    fake_->scriptStream(kOgg, ogg);
    ASSERT_EQ(outcomeOf(channel_->open(kOgg)), OpenResult::Opened);
    EXPECT_EQ(info_.kind(), StreamKind::OggVorbis);
    EXPECT_EQ(info_.stationName(), "Ogg FM");
    EXPECT_EQ(info_.title(), "Foo - Bar");
    fake_->fireSync(decoding(), audio::kSyncMeta, 0, {"TITLE="});
    EXPECT_EQ(info_.title(), "");
    channel_->close();

    // A codec of no known kind: kind 0 and no tags read.
    script("http://host/aac", pattern(8), kOtherCodec);
    fake_->clearCalls();
    ASSERT_EQ(outcomeOf(channel_->open("http://host/aac")), OpenResult::Opened);
    EXPECT_EQ(info_.kind(), StreamKind::Other);
    EXPECT_EQ(info_.title(), "");
    for (const std::string& call : fake_->calls()) {
        EXPECT_EQ(call.find("streamGetTags"), std::string::npos) << call;
    }
}

TEST_F(OutputChannelTest, MetadataIsRecordedWhenItArrivesAndShownWhenTheFirstCardPlaysIt) {
    channel_->setDevices("1,2");
    Script mp3;
    mp3.pcm = pattern(4000);
    mp3.tags[audio::kTagMeta] = {"StreamTitle='A';"};
    fake_->scriptStream(kMp3, mp3);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto outputs = fake_->outputStreams();
    const int parsed = jobs_.count(ChannelNotice::InfoParsed);
    const auto arrive = [&](const std::string& title, std::uint64_t position) {
        fake_->fireSync(decoding(), audio::kSyncMeta, 0, {"StreamTitle='" + title + "';"}, position);
    };

    arrive("B", 1000);
    EXPECT_EQ(recorder_.titles().back(), "B");
    EXPECT_EQ(info_.title(), "A");
    pull(outputs[1], 2000);  // the second card does not decide
    pull(outputs[0], 996);
    EXPECT_EQ(info_.title(), "A");
    pull(outputs[0], 4);
    EXPECT_EQ(info_.title(), "B");
    EXPECT_EQ(jobs_.count(ChannelNotice::InfoParsed), parsed + 1);

    // Each at its own time, in order.
    arrive("C", 1500);
    arrive("D", 1600);
    pull(outputs[0], 520);
    EXPECT_EQ(info_.title(), "C");
    pull(outputs[0], 100);
    EXPECT_EQ(info_.title(), "D");
    EXPECT_EQ(jobs_.count(ChannelNotice::InfoParsed), parsed + 3);

    // A stop drops what was not yet heard; the next station shows its own.
    arrive("E", 3000);
    channel_->close();
    Script ogg;
    ogg.info.channelType = audio::kChannelTypeOgg;
    ogg.pcm = pattern(4000);
    ogg.tags[audio::kTagOgg] = {"TITLE=Own"};
    fake_->scriptStream(kOgg, ogg);
    ASSERT_EQ(outcomeOf(channel_->open(kOgg)), OpenResult::Opened);
    pull(fake_->outputStreams()[0], 4000);
    EXPECT_EQ(info_.title(), "Own");
}

TEST_F(OutputChannelTest, LiveStreamLevelAndProgressComeFromTheLibrary) {
    EXPECT_FALSE(channel_->isLiveStream());
    EXPECT_EQ(channel_->level(), 0u);
    EXPECT_DOUBLE_EQ(channel_->progress(), -1.0);

    Script live;
    live.info.flags = audio::kStreamBlock;
    fake_->scriptStream(kMp3, live);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_TRUE(channel_->isLiveStream());
    EXPECT_DOUBLE_EQ(channel_->progress(), -1.0);
    const StreamId output = fake_->outputStreams().back();
    fake_->setLevel(output, 0x20001000);
    EXPECT_EQ(channel_->level(), 0x20001000u);
    fake_->setLevel(output, audio::kLevelError);
    EXPECT_EQ(channel_->level(), 0u);
    channel_->close();

    Script file;
    file.length = 1000;
    fake_->scriptStream(kMp3, file);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_FALSE(channel_->isLiveStream());
    fake_->setPosition(decoding(), 250);
    EXPECT_DOUBLE_EQ(channel_->progress(), 25.0);
}

TEST_F(OutputChannelTest, AnOutputThatCannotBeCreatedLeavesTheOthersPlaying) {
    channel_->setDevices("1,2");
    script(kMp3);
    fake_->failOutputsOnDevice(2, AudioError::Driver);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    EXPECT_EQ(outputDevices(), (std::vector<int>{1}));
    // The end and stall notifications sit on the output that exists.
    EXPECT_EQ(fake_->syncCount(fake_->outputStreams().front()), 2);
    EXPECT_EQ(pull(fake_->outputStreams().front(), 64), pattern(64));
    channel_->close();

    // With no output at all the open fails instead of playing into nowhere.
    fake_->failOutputsOnDevice(1, AudioError::Driver);
    const ChannelResult nowhere = channel_->open(kMp3);
    EXPECT_EQ(outcomeOf(nowhere), OpenResult::Fatal);
    ASSERT_FALSE(nowhere);
    EXPECT_EQ(nowhere.error().text(), "Can't find a free/valid driver");
    EXPECT_TRUE(fake_->decodingStreams().empty());
    EXPECT_EQ(fake_->initialisedDevices(), (std::vector<int>{0}));
    EXPECT_EQ(recorder_.calls().back(), "close");
}

TEST_F(OutputChannelTest, OpeningWhileAStreamIsOpenFailsAndKeepsItPlaying) {
    script(kMp3);
    script(kOgg);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto outputs = fake_->outputStreams();
    EXPECT_EQ(outcomeOf(channel_->open(kOgg)), OpenResult::Fatal);
    EXPECT_EQ(fake_->outputStreams(), outputs);
    EXPECT_EQ(info_.source(), kMp3);
}

TEST_F(OutputChannelTest, CloseStopsAndFreesEverythingDevicesLastToFirst) {
    channel_->setDevices("1,2");
    script(kMp3);
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto outputs = fake_->outputStreams();
    const StreamId decoder = decoding();
    fake_->clearCalls();
    channel_->close();
    const auto id = [](StreamId stream) { return std::to_string(stream.id); };
    const std::vector<std::string> expected = {
        "channelRemoveSync(" + id(outputs[1]) + "," + std::to_string(outputs[1].id + 1) + ")",
        "channelRemoveSync(" + id(outputs[1]) + "," + std::to_string(outputs[1].id + 2) + ")",
        "stopDevice()@2",
        "channelStop(" + id(outputs[0]) + ")",
        "streamFree(" + id(outputs[0]) + ")",
        "channelStop(" + id(outputs[1]) + ")",
        "streamFree(" + id(outputs[1]) + ")",
        "channelStop(" + id(decoder) + ")",
        "streamFree(" + id(decoder) + ")",
        "setDevice(2)",
        "freeDevice()@2",
        "setDevice(1)",
        "freeDevice()@1",
    };
    EXPECT_EQ(fake_->calls(), expected);
    EXPECT_EQ(recorder_.calls().back(), "close");
    fake_->clearCalls();
    channel_->close();  // nothing left to do
    EXPECT_TRUE(fake_->calls().empty());
}

TEST_F(OutputChannelTest, NetworkBufferAndDeviceNamesWithoutBluetooth) {
    channel_->setBufferLength(5000);
    EXPECT_EQ(fake_->config(audio::kConfigNetBuffer), 5000u);
    channel_->setBufferLength(-3);
    EXPECT_EQ(fake_->config(audio::kConfigNetBuffer), 0u);
    fake_->setDevices({"Speakers", "JBL Bluetooth Headset", "USB Audio", "bluetooth"});
    // Numbered as the device setting counts, past the Bluetooth ones.
    std::vector<std::pair<int, std::string>> listed;
    for (const OutputDevice& device : channel_->outputDevices()) {
        listed.emplace_back(device.number, device.name);
    }
    EXPECT_EQ(listed, (std::vector<std::pair<int, std::string>>{{0, "No sound"}, {1, "Speakers"}, {3, "USB Audio"}}));
}

TEST(OutputChannelLibrary, AMissingOrForeignLibraryIsReportedAsNotLoaded) {
    OutputChannel none(nullptr);
    const ChannelResult started = none.init();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().text(), "Could not load the audio engine (FFmpeg and SDL2).");
    const ChannelResult opened = none.open("http://host/");
    EXPECT_EQ(outcomeOf(opened), OpenResult::Fatal);
    none.close();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().text(), "Could not load the audio engine (FFmpeg and SDL2).");
    EXPECT_TRUE(none.outputDevices().empty());

    auto library = std::make_unique<test::FakeAudioLibrary>();
    library->setVersion(0x00010001);
    OutputChannel foreign(std::move(library));
    const ChannelResult foreignStart = foreign.init();
    ASSERT_FALSE(foreignStart);
    EXPECT_EQ(foreignStart.error().kind, AudioErrorKind::NotLoaded);
    foreign.shutdown();
    EXPECT_EQ(foreign.level(), 0u);
}

TEST_F(OutputChannelTest, DevicesPullConcurrentlyWhileTheWindowThreadAsks) {
    SoundEffects effects(settings_);
    channel_->setSoundEffects(&effects);
    channel_->setDevices("1,2");
    script(kMp3, {});
    ASSERT_EQ(outcomeOf(channel_->open(kMp3)), OpenResult::Opened);
    const auto outputs = fake_->outputStreams();
    std::vector<std::int16_t> samples(60000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(i * 13);
    }
    const std::vector<std::uint8_t> expected = test::samplesToBytes(samples);

    const auto device = [&](StreamId output, std::size_t chunk,
                            std::vector<std::uint8_t>& heard) {
        std::vector<std::uint8_t> buffer(chunk);
        for (int spins = 0; spins < 2000000; ++spins) {
            const std::uint32_t given = fake_->pull(output, buffer);
            const std::size_t count = given & ~audio::kSampleEnd;
            heard.insert(heard.end(), buffer.begin(), buffer.begin() + count);
            if ((given & audio::kSampleEnd) != 0) {
                return;
            }
            if (count == 0) {
                std::this_thread::yield();
            }
        }
    };
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
    std::thread a([&] { device(outputs[0], 1024, first); });
    std::thread b([&] { device(outputs[1], 4096, second); });
    std::thread network([&] {
        for (std::size_t at = 0; at < expected.size(); at += 3000) {
            const auto end = expected.begin() + std::min(expected.size(), at + 3000);
            fake_->appendPcm(decoding(), std::vector<std::uint8_t>(expected.begin() + at, end));
        }
        fake_->endStream(decoding());
    });
    for (int i = 0; i < 200; ++i) {
        channel_->setVolume(i / 200.0);
        effects.setSeparation(1.0);
        (void)channel_->level();
        (void)channel_->progress();
    }
    network.join();
    a.join();
    b.join();
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(recorder_.pcm(), expected);
    channel_->close();
    channel_->setSoundEffects(nullptr);
}

}  // namespace
}  // namespace korvanel
