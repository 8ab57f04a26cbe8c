#include "player/player.h"

#include <gtest/gtest.h>

#include "app/application.h"
#include "base/window_event.h"
#include "audio/output_channel.h"
#include "stream/playlist_resolver.h"
#include "tests/support/capturing_window.h"
#include "tests/support/fake_audio_library.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::FakeAudioLibrary;

// One event as a short line: "Connecting http://a/", "Error Connect error: ...".
std::string describe(const WindowEvent& event) {
    static const std::map<EventKind, std::string> names = {
        {EventKind::Connecting, "Connecting"}, {EventKind::Error, "Error"},
        {EventKind::Message, "Message"},       {EventKind::Connected, "Connected"},
        {EventKind::Stalled, "Stalled"},       {EventKind::Resumed, "Resumed"},
        {EventKind::StreamLost, "StreamLost"}, {EventKind::StreamEnded, "StreamEnded"},
        {EventKind::Stopped, "Stopped"},       {EventKind::InfoChanged, "InfoChanged"},
        {EventKind::Reconnecting, "Reconnecting"}, {EventKind::Resolving, "Resolving"},
        {EventKind::Resolved, "Resolved"},     {EventKind::ResolveFailed, "ResolveFailed"},
    };
    const auto it = names.find(event.kind);
    std::string line = it == names.end() ? std::to_string(static_cast<int>(event.kind)) : it->second;
    if (!event.text.empty()) {
        line += " " + event.text;
    }
    return line;
}

FakeAudioLibrary::ScriptedStream liveStream() {
    FakeAudioLibrary::ScriptedStream stream;
    stream.info.flags = audio::kStreamDecode | audio::kStreamBlock;
    stream.pcm.assign(4096, 0);
    return stream;
}

FakeAudioLibrary::ScriptedStream finiteStream() {
    FakeAudioLibrary::ScriptedStream stream;
    stream.length = 4096;
    stream.pcm.assign(4096, 0);
    return stream;
}

class PlayerTest : public ::testing::Test {
protected:
    PlayerTest()
        : env_("KORVANEL_HOME", home_.path()),
          app_(
              [this](Application&) {
                  auto window = std::make_unique<test::CapturingWindow>();
                  window_ = window.get();
                  return window;
              },
              [this]() -> std::unique_ptr<AudioLibrary> {
                  if (!libraryAvailable_) {
                      return nullptr;
                  }
                  auto library = std::make_unique<FakeAudioLibrary>();
                  library->setDevices({"Speakers"});
                  library_ = library.get();
                  return library;
              }) {
        player().setWaitScale(0.002);  // 5 s waits become 10 ms
        waitForInit();
    }

    Player& player() { return app_.player(); }
    PlaylistResolver& resolver() { return app_.playlistResolver(); }

    // The published channel also publishes the fake that the factory made.
    void waitForInit() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (player().channel() == nullptr && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_NE(player().channel(), nullptr);
    }

    // Events until (and including) one that starts with `last`. Metadata
    // news (InfoChanged) comes whenever the channel reads headers and is
    // left out.
    std::vector<std::string> eventsUntil(const std::string& last, std::chrono::milliseconds bound = 10s) {
        std::vector<std::string> seen;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            auto event = window_->next(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (!event) {
                break;
            }
            if (event->kind == EventKind::InfoChanged) {
                continue;
            }
            seen.push_back(describe(*event));
            if (seen.back().rfind(last, 0) == 0) {
                return seen;
            }
        }
        ADD_FAILURE() << "no " << last << " event; saw " << ::testing::PrintToString(seen);
        return seen;
    }

    // The decoding stream's output end sync, as the library would raise it.
    void endPlayingStream() {
        ASSERT_FALSE(library_->outputStreams().empty());
        library_->fireSync(library_->outputStreams().back(), audio::kSyncEnd);
    }

    test::TempFolder home_;
    test::ScopedEnv env_;
    bool libraryAvailable_ = true;
    FakeAudioLibrary* library_ = nullptr;
    test::CapturingWindow* window_ = nullptr;
    Application app_;
};

TEST_F(PlayerTest, TwoDeadAddressesAreEachTriedOnceThenAllFail) {
    library_->scriptFailure("http://dead1/a.mp3", AudioError::FileOpen);
    library_->scriptFailure("http://dead2/b.mp3", AudioError::Timeout);
    resolver().setSources({"http://dead1/a.mp3", "http://dead2/b.mp3"});
    player().play();
    const auto events = eventsUntil("Message");
    ASSERT_EQ(events.size(), 6u) << ::testing::PrintToString(events);
    EXPECT_EQ(events[0], "Connecting");
    EXPECT_EQ(events[1], "Connecting http://dead1/a.mp3");
    EXPECT_EQ(events[2].rfind("Error Connect error: ", 0), 0u);
    EXPECT_EQ(events[3], "Connecting http://dead2/b.mp3");
    EXPECT_EQ(events[5], "Message All sources failed, giving up!");
    EXPECT_EQ(player().state(), Player::State::Idle);
}

TEST_F(PlayerTest, PlayingReportsConnectedAndStopReportsStopped) {
    library_->scriptStream("http://live/stream", liveStream());
    resolver().setSources({"http://live/stream"});
    player().play();
    EXPECT_EQ(eventsUntil("Connected"),
              (std::vector<std::string>{"Connecting", "Connecting http://live/stream", "Connected http://live/stream"}));
    EXPECT_EQ(player().state(), Player::State::Playing);
    player().stop();
    EXPECT_EQ(eventsUntil("Stopped"), (std::vector<std::string>{"Stopped"}));
    EXPECT_EQ(player().state(), Player::State::Idle);
}

TEST_F(PlayerTest, DroppedLiveStreamReconnectsThreeTimesPerEntryAndRestartsOnce) {
    library_->scriptStream("http://live/one", liveStream());
    resolver().setSources({"http://live/one", "http://live/two"});
    player().play();
    eventsUntil("Connected");

    library_->scriptFailure("http://live/one", AudioError::Timeout);
    library_->scriptFailure("http://live/two", AudioError::Timeout);
    endPlayingStream();
    const auto events = eventsUntil("Message All sources failed");
    std::vector<std::string> attempts, waits;
    for (const auto& line : events) {
        if (line.rfind("Connecting http", 0) == 0) {
            attempts.push_back(line.substr(11));
        } else if (line.rfind("Message ", 0) == 0) {
            waits.push_back(line.substr(8));
        }
    }
    EXPECT_EQ(events[0], "StreamLost");
    EXPECT_EQ(events[1], "Reconnecting Trying to reconnect..");
    const std::vector<std::string> pass = {"http://live/one", "http://live/one", "http://live/one",
                                           "http://live/two", "http://live/two", "http://live/two"};
    std::vector<std::string> twoPasses = pass;
    twoPasses.insert(twoPasses.end(), pass.begin(), pass.end());
    EXPECT_EQ(attempts, twoPasses);
    EXPECT_EQ(std::count(waits.begin(), waits.end(), "Retrying in 5 seconds.."), 8);
    EXPECT_EQ(std::count(waits.begin(), waits.end(), "Reconnecting from scratch in 10 seconds.."), 1);
}

TEST_F(PlayerTest, DroppedLiveStreamIsNotReconnectedWhenRetriesAreOff) {
    app_.settings().setInt("General/ReconnectRetries", 0);
    app_.settings().setInt("General/RestartRetries", 0);
    library_->scriptStream("http://live/one", liveStream());
    resolver().setSources({"http://live/one"});
    player().play();
    eventsUntil("Connected");
    endPlayingStream();
    EXPECT_EQ(eventsUntil("StreamLost"), (std::vector<std::string>{"StreamLost"}));
    const auto after = window_->next(200ms);
    EXPECT_FALSE(after.has_value()) << describe(*after);
}

// Play, next, stop pressed in quick succession: the stop lands while the
// first connect is still opening, with the next queued behind it.
TEST_F(PlayerTest, StopWhileConnectingAlsoDropsQueuedCommandsSoThePlayerEndsIdle) {
    library_->scriptStream("http://live/one", liveStream());
    library_->scriptStream("http://live/two", liveStream());
    resolver().setSources({"http://live/one", "http://live/two"});
    library_->holdOpens();
    player().play();
    ASSERT_TRUE(library_->waitForHeldOpen(5s));
    player().next();
    player().stop();
    library_->releaseOpens();
    EXPECT_EQ(eventsUntil("Stopped"),
              (std::vector<std::string>{"Connecting", "Connecting http://live/one", "Stopped"}));
    std::vector<std::string> later;
    while (const auto event = window_->next(300ms)) {
        if (event->kind != EventKind::InfoChanged) {
            later.push_back(describe(*event));
        }
    }
    EXPECT_TRUE(later.empty()) << ::testing::PrintToString(later);
    EXPECT_EQ(player().state(), Player::State::Idle);
    EXPECT_EQ(player().pendingCount(), 0u);
}

TEST_F(PlayerTest, StopDuringTheRestartWaitEndsAtOnceWithNoFurtherAttempt) {
    player().setWaitScale(1.0);  // a real 10 s wait, cut short by the stop
    library_->scriptStream("http://live/one", liveStream());
    resolver().setSources({"http://live/one"});
    player().play();
    eventsUntil("Connected");
    library_->scriptFailure("http://live/one", AudioError::FileOpen);
    endPlayingStream();
    eventsUntil("Message Reconnecting from scratch");
    const auto stopAt = std::chrono::steady_clock::now();
    player().stop();
    EXPECT_EQ(eventsUntil("Stopped", 2s), (std::vector<std::string>{"Stopped"}));
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 1s);
    EXPECT_FALSE(window_->next(300ms).has_value());
}

TEST_F(PlayerTest, StopDuringAPlaylistDownloadEndsItAtOnce) {
    // The server takes the request and never answers; the download would
    // wait out its 15 s of silence.
    test::HttpTestServer server([](test::HttpTestServer::Connection& connection, const std::string&) {
        connection.waitForPeerClose(std::chrono::milliseconds(20000));
    });
    resolver().setSources({server.url("/list.pls")});
    player().play();
    eventsUntil("Resolving");
    std::this_thread::sleep_for(200ms);  // the request is out and waiting
    const auto stopAt = std::chrono::steady_clock::now();
    player().stop();
    const std::vector<std::string> seen = eventsUntil("Stopped", 3s);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 1s);
    EXPECT_EQ(seen.back(), "Stopped");
    EXPECT_EQ(player().state(), Player::State::Idle);

    // The next run downloads again.
    resolver().setSources({server.url("/list.pls")});
    player().play();
    eventsUntil("Resolving");
    player().stop();
    eventsUntil("Stopped", 3s);
}

TEST_F(PlayerTest, PlaylistEntryResolvesAndNextPlaysItsSecondStream) {
    test::HttpTestServer server(test::HttpTestServer::reply(test::HttpTestServer::okResponse(
        "[playlist]\r\nFile1=http://s/1\r\nFile2=http://s/2\r\nFile3=http://s/3\r\n")));
    for (const char* address : {"http://s/1", "http://s/2", "http://s/3"}) {
        library_->scriptStream(address, liveStream());
    }
    resolver().setSources({server.url("/radio.pls")});
    player().play();
    const auto events = eventsUntil("Connected");
    EXPECT_EQ(events, (std::vector<std::string>{"Connecting", "Resolving " + server.url("/radio.pls"), "Resolved",
                                                "Connecting http://s/1", "Connected http://s/1"}));
    player().next();
    EXPECT_EQ(eventsUntil("Connected"),
              (std::vector<std::string>{"Stopped", "Connecting", "Connecting http://s/2", "Connected http://s/2"}));
}

TEST_F(PlayerTest, FiniteStreamMovesOnAndStopsAfterTheLast) {
    library_->scriptStream("http://files/1.mp3", finiteStream());
    library_->scriptStream("http://files/2.mp3", finiteStream());
    resolver().setSources({"http://files/1.mp3", "http://files/2.mp3"});
    player().play();
    eventsUntil("Connected");
    endPlayingStream();
    EXPECT_EQ(eventsUntil("Connected"), (std::vector<std::string>{"StreamEnded", "Stopped", "Connecting",
                                                                  "Connecting http://files/2.mp3",
                                                                  "Connected http://files/2.mp3"}));
    endPlayingStream();
    EXPECT_EQ(eventsUntil("Stopped"), (std::vector<std::string>{"StreamEnded", "Stopped"}));
    const auto after = window_->next(200ms);
    EXPECT_FALSE(after.has_value()) << describe(*after);
}

TEST_F(PlayerTest, NothingToPlayAndNoOutputDeviceAreReportedOnce) {
    player().play();
    EXPECT_EQ(eventsUntil("Message"), (std::vector<std::string>{
                                           "Message No sources in list, giving up!"}));

    app_.settings().setString("Sound/PlayOnDevices", "7");
    app_.settings().notifyChanged();
    library_->scriptStream("http://live/one", liveStream());
    resolver().setSources({"http://live/one"});
    player().play();
    const auto events = eventsUntil("Message");
    EXPECT_EQ(events.back().rfind("Message Critical error, giving up: ", 0), 0u) << events.back();
    EXPECT_EQ(player().state(), Player::State::Idle);
}

TEST_F(PlayerTest, MuteKeepsTheVolumeToComeBackTo) {
    player().setVolume(0.6);
    EXPECT_DOUBLE_EQ(player().volume(), 0.6);
    player().mute();
    EXPECT_TRUE(player().isMuted());
    EXPECT_DOUBLE_EQ(player().volume(), 0.6);
    EXPECT_DOUBLE_EQ(player().channel()->volume(), 0.0);
    player().unmute();
    EXPECT_DOUBLE_EQ(player().channel()->volume(), 0.6);
    player().mute();
    player().setVolume(0.3);  // setting a volume unmutes
    EXPECT_FALSE(player().isMuted());
    EXPECT_DOUBLE_EQ(player().volume(), 0.3);
}

TEST(PlayerWithoutLibrary, EveryRunReportsTheInitError) {
    test::TempFolder home;
    test::ScopedEnv env("KORVANEL_HOME", home.path());
    test::CapturingWindow* window = nullptr;
    Application app(
        [&window](Application&) {
            auto made = std::make_unique<test::CapturingWindow>();
            window = made.get();
            return made;
        },
        [] { return std::unique_ptr<AudioLibrary>(); });
    app.playlistResolver().setSources({"http://a/"});
    app.player().play();
    const auto event = window->waitFor(EventKind::Message);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->text, "Critical error! The audio engine could not be started: make sure FFmpeg (libavformat, libavcodec) and SDL2 (libSDL2-2.0.so.0) are installed..");
    EXPECT_EQ(app.player().channel(), nullptr);
    EXPECT_DOUBLE_EQ(app.player().volume(), 0.0);
}

}  // namespace
}  // namespace korvanel
