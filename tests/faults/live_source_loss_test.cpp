// The real Application, player and audio engine in this process, playing a
// mount of our own icecast2 onto the PCM tap card, while the mount's source
// or icecast itself is killed and brought back. The player's waits are
// scaled down; everything else runs at its own speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/application.h"
#include "base/window_event.h"
#include "audio/output_channel.h"
#include "audio/engine/audio_engine.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/capturing_window.h"
#include "tests/support/icecast_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::IcecastServer;

// The retry wait becomes 1.5 s, the restart wait 3 s.
constexpr double kWaitScale = 0.3;
constexpr std::chrono::milliseconds kStopBound{1000};
constexpr std::size_t kBytesPerSecond = 44100 * 2 * 2;

struct SeenEvent {
    EventKind kind = EventKind::Started;
    std::string text;
};

class LiveSourceLoss : public ::testing::Test {
protected:
    LiveSourceLoss() : env_("KORVANEL_HOME", home_.path()), updates_("KORVANEL_UPDATE_SERVER", "http://127.0.0.1:1") {}

    void SetUp() override {
        ASSERT_TRUE(IcecastServer::available()) << "icecast2 and ffmpeg are needed (scripts/install-deps.sh)";
        ASSERT_TRUE(icecast_.start()) << icecast_.errorLog();
        ASSERT_TRUE(icecast_.startSource(tone(440))) << icecast_.errorLog();

        card_.reset(std::fopen(cardPath().c_str(), "wb"));
        ASSERT_TRUE(card_);
        app_ = std::make_unique<Application>(
            [this](Application&) {
                auto window = std::make_unique<test::CapturingWindow>();
                window_ = window.get();
                return window;
            },
            [file = card_.get()] { return std::make_unique<AudioEngine>(AudioEngine::Libraries{}, file); });
        const auto deadline = Clock::now() + 5s;
        while (player().channel() == nullptr && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_NE(player().channel(), nullptr);
        app_->settings().setString("Sound/PlayOnDevices", std::to_string(audio::kFileDevice));
        app_->settings().notifyChanged();
        player().setWaitScale(kWaitScale);
    }

    void TearDown() override { app_.reset(); }

    // 320 kbit/s: icecast's 64 KiB burst is 1.6 s of audio, so a cut-off
    // listener runs dry soon after its source goes.
    static IcecastServer::Source tone(int frequencyHz) {
        IcecastServer::Source source{"/live.mp3", IcecastServer::Codec::Mp3, frequencyHz};
        source.bitrateKbps = 320;
        return source;
    }

    Player& player() { return app_->player(); }
    std::string cardPath() const { return home_.file("card.raw"); }

    void play() {
        app_->playlistResolver().setSources({icecast_.url("/live.mp3")});
        player().play();
    }

    // Takes events up to one of this kind; all are kept in seen_.
    bool waitForEvent(EventKind code, std::chrono::milliseconds bound) {
        const auto deadline = Clock::now() + bound;
        while (Clock::now() < deadline) {
            const auto event =
                window_->next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
            if (!event) {
                break;
            }
            seen_.push_back({event->kind, event->text});
            if (event->kind == code) {
                return true;
            }
        }
        return false;
    }

    std::size_t countSeen(EventKind code) const {
        return static_cast<std::size_t>(
            std::count_if(seen_.begin(), seen_.end(), [code](const SeenEvent& e) { return e.kind == code; }));
    }

    std::string describeSeen() const {
        std::string text;
        for (const auto& event : seen_) {
            text += std::to_string(static_cast<int>(event.kind)) + (event.text.empty() ? "" : " " + event.text) + "\n";
        }
        return text;
    }

    // The tone of the last half second the card played.
    double latestTone() {
        std::fflush(card_.get());
        const std::string pcm = test::readFile(cardPath());
        const std::size_t take = std::min(pcm.size(), kBytesPerSecond / 2) / 4 * 4;
        return test::toneFrequency(test::channelSamples(pcm.substr(pcm.size() - take), 2, 0), 44100);
    }

    // Waits until the card plays this tone.
    bool toneComesBack(int frequencyHz, std::chrono::milliseconds bound) {
        const auto deadline = Clock::now() + bound;
        while (Clock::now() < deadline) {
            if (std::abs(latestTone() - frequencyHz) < frequencyHz * 0.02) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Asks the player to stop and measures until it reports it stopped.
    std::chrono::milliseconds timedStop() {
        const auto asked = Clock::now();
        player().stop();
        EXPECT_TRUE(waitForEvent(EventKind::Stopped, 5s)) << describeSeen();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
        EXPECT_EQ(player().state(), Player::State::Idle);
        return took;
    }

    test::TempFolder home_;
    test::ScopedEnv env_;
    test::ScopedEnv updates_;
    IcecastServer icecast_;
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> card_;
    test::CapturingWindow* window_ = nullptr;
    std::unique_ptr<Application> app_;
    std::vector<SeenEvent> seen_;
};

TEST_F(LiveSourceLoss, SourceKilledThreeTimesIsReconnectedAndEachNewToneIsHeard) {
    play();
    ASSERT_TRUE(waitForEvent(EventKind::Connected, 10s)) << describeSeen();
    ASSERT_TRUE(toneComesBack(440, 5s));

    const int tones[] = {550, 660, 770};
    for (std::size_t round = 0; round < std::size(tones); ++round) {
        SCOPED_TRACE("source restart " + std::to_string(round + 1));
        icecast_.stopSource("/live.mp3");
        ASSERT_TRUE(icecast_.startSource(tone(tones[round]))) << icecast_.errorLog();
        ASSERT_TRUE(waitForEvent(EventKind::StreamLost, 10s)) << describeSeen();
        ASSERT_TRUE(waitForEvent(EventKind::Connected, 15s)) << describeSeen();
        EXPECT_TRUE(toneComesBack(tones[round], 5s)) << "heard " << latestTone();
        EXPECT_EQ(player().state(), Player::State::Playing);
    }
    EXPECT_EQ(countSeen(EventKind::StreamLost), 3u) << describeSeen();
    EXPECT_EQ(countSeen(EventKind::Reconnecting), 3u) << describeSeen();
    EXPECT_EQ(countSeen(EventKind::Connected), 4u) << describeSeen();
    for (const auto& event : seen_) {
        EXPECT_FALSE(event.kind == EventKind::Message && event.text.find("giving up") != std::string::npos)
            << describeSeen();
    }

    const auto took = timedStop();
    EXPECT_LT(took, kStopBound);
    RecordProperty("stop_while_playing_ms", static_cast<int>(took.count()));
}

TEST_F(LiveSourceLoss, ServerKilledAndRestartedIsReconnectedAndStopCutsTheNextReconnectShort) {
    play();
    ASSERT_TRUE(waitForEvent(EventKind::Connected, 10s)) << describeSeen();
    ASSERT_TRUE(toneComesBack(440, 5s));

    // icecast goes: every attempt is refused until it is back.
    icecast_.stop();
    ASSERT_TRUE(waitForEvent(EventKind::StreamLost, 10s)) << describeSeen();
    ASSERT_TRUE(waitForEvent(EventKind::Error, 5s)) << describeSeen();
    ASSERT_TRUE(icecast_.restart()) << icecast_.errorLog();
    ASSERT_TRUE(icecast_.startSource(tone(660))) << icecast_.errorLog();
    const auto back = Clock::now();
    ASSERT_TRUE(waitForEvent(EventKind::Connected, 15s)) << describeSeen();
    RecordProperty("reconnected_after_server_back_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back).count()));
    EXPECT_TRUE(toneComesBack(660, 5s)) << "heard " << latestTone();
    EXPECT_EQ(countSeen(EventKind::Reconnecting), 1u) << describeSeen();

    // Gone again, and the user stops during the reconnect's wait.
    icecast_.stop();
    ASSERT_TRUE(waitForEvent(EventKind::StreamLost, 10s)) << describeSeen();
    ASSERT_TRUE(waitForEvent(EventKind::Message, 5s)) << describeSeen();  // the wait begins
    const auto took = timedStop();
    EXPECT_LT(took, kStopBound);
    RecordProperty("stop_during_reconnect_wait_ms", static_cast<int>(took.count()));
    // No attempt after the stop.
    std::this_thread::sleep_for(500ms);
    while (auto late = window_->next(0ms)) {
        EXPECT_NE(late->kind, EventKind::Connecting) << late->text;
    }
}

}  // namespace
}  // namespace korvanel
