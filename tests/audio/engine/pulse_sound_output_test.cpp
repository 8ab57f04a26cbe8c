// The engine through a real sound server: a private PulseAudio with null
// sinks, heard back through their monitors.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/pulse_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::PulseTestServer;
using test::SinkMonitor;
using Clock = std::chrono::steady_clock;

constexpr int kLoud = 1000;   // a tone of 10000 is heard above this
constexpr int kQuiet = 100;   // and silence below this
constexpr int kAmplitude = 10000;

// A stereo sine tone for as long as it is asked, or silence once told.
class ToneSource {
public:
    explicit ToneSource(double frequencyHz = 440.0) : step_(2.0 * M_PI * frequencyHz / 44100.0) {}
    SampleCallback callback() {
        return [this](std::span<std::uint8_t> buffer) {
            const std::size_t frames = buffer.size() / 4;
            const bool silent = silent_.load();
            for (std::size_t i = 0; i < frames; ++i) {
                const auto value = silent ? std::int16_t{0} : static_cast<std::int16_t>(kAmplitude * std::sin(phase_));
                phase_ += step_;
                std::memcpy(buffer.data() + i * 4, &value, 2);
                std::memcpy(buffer.data() + i * 4 + 2, &value, 2);
            }
            return static_cast<std::uint32_t>(frames * 4);
        };
    }
    void silence() { silent_.store(true); }

private:
    const double step_;
    double phase_ = 0.0;
    std::atomic<bool> silent_{false};
};

// The same cases on PulseAudio and on PipeWire's PulseAudio server.
class PulseOutputTest : public ::testing::TestWithParam<test::SoundServerKind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(PulseTestServer::available(GetParam()))
            << "pulseaudio, pipewire-pulse, wireplumber and pulseaudio-utils are needed (scripts/install-deps.sh)";
        ASSERT_TRUE(server_.ready());
    }

    // An output stream playing `source` on a device of the engine.
    AudioStream play(AudioEngine& engine, int device, ToneSource& source, int volume = 100) {
        if (const AudioResult<void> started = engine.init(device, 44100); !started) {
            EXPECT_EQ(started.error().kind, AudioError::Already);
        }
        EXPECT_TRUE(engine.setDevice(device));
        AudioResult<AudioStream> made = engine.openOutput(44100, 2, 0, source.callback());
        EXPECT_TRUE(made) << (made ? std::string() : made.error().detail);
        AudioStream stream = streamOrNone(std::move(made));
        stream.setAttributes(audio::kFrequencyUnchanged, volume, audio::kPanUnchanged);
        EXPECT_TRUE(stream.play());
        return stream;
    }

    // Playing on the default device, heard, and the server's buffer full.
    AudioStream playHeard(AudioEngine& engine, SinkMonitor& heard, ToneSource& source) {
        AudioStream stream = play(engine, audio::kDefaultDevice, source);
        EXPECT_TRUE(heard.waitForSound(Clock::now() - 1s, kLoud, 3s));
        std::this_thread::sleep_for(500ms);
        return stream;
    }

    std::size_t sinkInputs() {
        return test::linesOf(server_.pactl({"list", "short", "sink-inputs"})).size();
    }

    PulseTestServer server_{{"one", "two"}, GetParam()};
    test::ScopedEnv pulse_{"PULSE_SERVER", server_.address()};
    test::ScopedEnv automatic_{"KORVANEL_AUDIO", ""};
    test::ScopedEnv noSdl_{"SDL_AUDIODRIVER", ""};
};

TEST_P(PulseOutputTest, IsChosenByItselfAndTheDesktopSeesThePlayerByNameIconAndStation) {
    AudioEngine engine;
    EXPECT_EQ(engine.outputName(), "") << "nothing chosen before a card is asked for";
    EXPECT_EQ(engine.deviceDescription(1), "Default output");
    EXPECT_EQ(engine.outputName().rfind("Sound server: ", 0), 0u) << engine.outputName();
    EXPECT_NE(engine.outputName().find(GetParam() == test::SoundServerKind::PipeWire ? "PipeWire" : "pulseaudio"),
              std::string::npos);
    EXPECT_EQ(engine.deviceDescription(2), "Sink_one");
    EXPECT_EQ(engine.deviceDescription(3), "Sink_two");
    EXPECT_FALSE(engine.deviceDescription(4));

    SinkMonitor heard(server_, "one");
    ToneSource tone(440);
    const auto started = Clock::now();
    AudioStream stream = play(engine, audio::kDefaultDevice, tone);
    ASSERT_TRUE(stream.setMediaName("Rock & Roll <Radio>"));
    ASSERT_TRUE(heard.waitForSound(started, kLoud, 3s));
    std::this_thread::sleep_for(600ms);
    EXPECT_NEAR(test::toneFrequency(heard.leftSince(started + 400ms), 44100), 440, 5);

    // The slider's half is what the desktop's sound settings call half.
    ASSERT_TRUE(stream.setAttributes(audio::kFrequencyUnchanged, 50, audio::kPanUnchanged));
    std::this_thread::sleep_for(100ms);
    const std::string inputs = server_.pactl({"list", "sink-inputs"});
    EXPECT_NE(inputs.find("front-left: 32768 /  50%"), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("application.name = \"Korvanel Radio\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("application.icon_name = \"korvanel\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("media.role = \"music\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("media.name = \"Rock & Roll <Radio>\""), std::string::npos) << inputs;
    // A large buffer on the server: the player need not wake often.
    EXPECT_GT(stream.queued(), 44100u * 4 / 10);
    EXPECT_TRUE(stream.free());
}

TEST_P(PulseOutputTest, StopAndMuteSilenceTheServerAtOnceWhateverItsBufferHolds) {
    AudioEngine engine;
    SinkMonitor heard(server_, "one");
    ToneSource tone;
    AudioStream stream = playHeard(engine, heard, tone);
    ASSERT_FALSE(HasFailure());

    // The buffer holds 250 ms and more: only the server's own volume and a
    // flush make it quiet this soon (the bench measures the exact figures).
    auto pressed = Clock::now();
    ASSERT_TRUE(stream.setAttributes(audio::kFrequencyUnchanged, 0, audio::kPanUnchanged));
    auto quiet = heard.waitForSilence(pressed, kQuiet, 200ms, 3s);
    ASSERT_TRUE(quiet);
    EXPECT_LT(*quiet - pressed, 150ms) << "mute";
    EXPECT_EQ(stream.level() != 0, true) << "the level is of the signal, before the volume";

    pressed = Clock::now();
    ASSERT_TRUE(stream.setAttributes(audio::kFrequencyUnchanged, 100, audio::kPanUnchanged));
    auto loud = heard.waitForSound(pressed, kLoud, 3s);
    ASSERT_TRUE(loud);
    EXPECT_LT(*loud - pressed, 150ms) << "unmute";
    std::this_thread::sleep_for(300ms);

    pressed = Clock::now();
    ASSERT_TRUE(stream.stop());
    quiet = heard.waitForSilence(pressed, kQuiet, 300ms, 3s);
    ASSERT_TRUE(quiet);
    EXPECT_LT(*quiet - pressed, 150ms) << "stop";

    // Played again, it starts afresh, not with what was flushed.
    pressed = Clock::now();
    ASSERT_TRUE(stream.play());
    loud = heard.waitForSound(pressed, kLoud, 3s);
    ASSERT_TRUE(loud);
    EXPECT_LT(*loud - pressed, 500ms);
    EXPECT_TRUE(stream.free());
}

TEST_P(PulseOutputTest, TheLevelFollowsWhatIsHeardNotWhatWasWritten) {
    AudioEngine engine;
    SinkMonitor heard(server_, "one");
    ToneSource tone;
    AudioStream stream = playHeard(engine, heard, tone);
    ASSERT_FALSE(HasFailure());
    tone.silence();  // from the next write on: the server still holds sound
    const auto silenced = Clock::now();
    std::optional<Clock::time_point> meterQuiet;
    while (!meterQuiet && Clock::now() - silenced < 3s) {
        if (stream.level() < static_cast<std::uint32_t>(kQuiet)) {
            meterQuiet = Clock::now();
        }
        std::this_thread::sleep_for(2ms);
    }
    const auto monitorQuiet = heard.waitForSilence(silenced, kQuiet, 200ms, 3s);
    ASSERT_TRUE(meterQuiet);
    ASSERT_TRUE(monitorQuiet);
    EXPECT_GT(*monitorQuiet - silenced, 150ms) << "the buffer played on";
    EXPECT_LT(std::chrono::abs(*meterQuiet - *monitorQuiet), 80ms)
        << "meter quiet " << (*meterQuiet - silenced).count() / 1000000 << " ms, monitor quiet "
        << (*monitorQuiet - silenced).count() / 1000000 << " ms after the silence was written";
    EXPECT_TRUE(stream.free());
}

TEST_P(PulseOutputTest, TwoSinksPlayAtOnceAndAStreamWhoseSinkGoesMovesToTheDefault) {
    AudioEngine engine;
    SinkMonitor one(server_, "one");
    SinkMonitor two(server_, "two");
    ToneSource first(440);
    ToneSource second(660);
    const auto started = Clock::now();
    AudioStream onOne = play(engine, 2, first);
    AudioStream onTwo = play(engine, 3, second);
    ASSERT_TRUE(one.waitForSound(started, kLoud, 3s));
    ASSERT_TRUE(two.waitForSound(started, kLoud, 3s));
    std::this_thread::sleep_for(600ms);
    EXPECT_NEAR(test::toneFrequency(one.leftSince(started + 400ms), 44100), 440, 5);
    EXPECT_NEAR(test::toneFrequency(two.leftSince(started + 400ms), 44100), 660, 5);

    // Its sink unloaded, as when headphones are pulled: it plays on, on the default.
    const std::string modules = server_.pactl({"list", "short", "modules"});
    std::string twoModule;
    for (const std::string& line : test::linesOf(modules)) {
        if (line.find("sink_name=two") != std::string::npos) {
            twoModule = line.substr(0, line.find('\t'));
        }
    }
    ASSERT_FALSE(twoModule.empty()) << modules;
    server_.pactl({"unload-module", twoModule});
    const auto moved = Clock::now();
    std::this_thread::sleep_for(800ms);
    const std::vector<std::int16_t> mixed = one.leftSince(moved + 300ms);
    EXPECT_GT(test::peakLevel(mixed), kAmplitude * 3 / 2) << "both tones now play on the sink that is left";
    EXPECT_EQ(onTwo.activity(), ActiveState::Playing);
    EXPECT_FALSE(engine.deviceDescription(3)) << "the device list follows the server";
    EXPECT_TRUE(onOne.free());
    EXPECT_TRUE(onTwo.free());
}

TEST_P(PulseOutputTest, TheDefaultDeviceFollowsTheDesktopsDefaultSink) {
    AudioEngine engine;
    SinkMonitor two(server_, "two");
    ToneSource tone;
    AudioStream stream = play(engine, audio::kDefaultDevice, tone);
    std::this_thread::sleep_for(300ms);
    ASSERT_FALSE(two.waitForSound(Clock::now() - 300ms, kLoud, 10ms)) << "it began on sink one";
    server_.pactl({"set-default-sink", "two"});
    const auto changed = Clock::now();
    ASSERT_TRUE(two.waitForSound(changed, kLoud, 3s)) << "device 1 moved with the default";
    // The server's own word on where it plays (a monitor would follow the default too).
    std::string twoIndex;
    for (const std::string& line : test::linesOf(server_.pactl({"list", "short", "sinks"}))) {
        if (line.find("\ttwo\t") != std::string::npos) {
            twoIndex = line.substr(0, line.find('\t'));
        }
    }
    const std::vector<std::string> inputs = test::linesOf(server_.pactl({"list", "short", "sink-inputs"}));
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].substr(inputs[0].find('\t') + 1, twoIndex.size() + 1), twoIndex + "\t") << inputs[0];
    EXPECT_TRUE(stream.free());
}

TEST_P(PulseOutputTest, AServerThatGoesAwayEndsTheStreamLikeALostCardWithoutAHang) {
    AudioEngine engine;
    ToneSource tone;
    AudioStream stream = play(engine, audio::kDefaultDevice, tone);
    std::atomic<bool> ended{false};
    ASSERT_TRUE(stream.setLifelongSync(audio::kSyncEnd, 0, [&](const SyncEvent&) { ended = true; }));
    std::this_thread::sleep_for(300ms);
    server_.kill();
    const auto deadline = Clock::now() + 5s;
    while (!ended && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(stream.free());
    engine.waitForNotifications();  // the card is released behind the call
    // Asked again, the engine finds no server and plays through SDL instead.
    test::ScopedEnv dummy("SDL_AUDIODRIVER", "dummy");
    EXPECT_EQ(engine.deviceDescription(1), "Default output");
    EXPECT_EQ(engine.outputName(), "SDL: dummy");
}

TEST_P(PulseOutputTest, AThousandStationSwitchesLeaveNoStreamBehind) {
    AudioEngine engine;
    ASSERT_TRUE(engine.init(audio::kDefaultDevice, 44100));
    ToneSource tone;
    for (int i = 0; i < 1000; ++i) {
        AudioResult<AudioStream> made = engine.openOutput(44100, 2, 0, tone.callback());
        ASSERT_TRUE(made) << "switch " << i << ": " << made.error().detail;
        AudioStream stream = std::move(made).value();
        ASSERT_TRUE(stream.play());
        ASSERT_TRUE(stream.free());
    }
    engine.waitForNotifications();
    EXPECT_EQ(sinkInputs(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseOutputTest,
                         ::testing::Values(test::SoundServerKind::PulseAudio, test::SoundServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<test::SoundServerKind>& kind) {
                             return kind.param == test::SoundServerKind::PipeWire ? "PipeWire" : "PulseAudio";
                         });

TEST(PulseOutputChoice, WithoutAServerSdlPlaysAndAForcedServerSaysWhyItCannot) {
    test::ScopedEnv pulse("PULSE_SERVER", "unix:/nonexistent/native");
    test::ScopedEnv automatic("KORVANEL_AUDIO", "");
    {
        test::ScopedEnv sdl("SDL_AUDIODRIVER", "dummy");
        test::ScopedEnv forced("KORVANEL_AUDIO", "");
        AudioEngine engine;
        // SDL_AUDIODRIVER asks for SDL by itself.
        EXPECT_EQ(engine.deviceDescription(1), "Default output");
        EXPECT_EQ(engine.outputName(), "SDL: dummy");
    }
    test::ScopedEnv forced("KORVANEL_AUDIO", "pulse");
    test::ScopedEnv sdl("SDL_AUDIODRIVER", "dummy");
    AudioEngine engine;
    EXPECT_EQ(failureKind(engine.init(audio::kDefaultDevice, 44100)), AudioError::Driver);
    EXPECT_FALSE(engine.deviceDescription(audio::kDefaultDevice));
    EXPECT_EQ(engine.outputName().rfind("Sound server: ", 0), 0u);
}

}  // namespace
}  // namespace korvanel
