// The real core (player, resolver, recorder, stream information) over the
// scripted audio library, with the desktop window as its face: what the
// window's QTest cases stand on.
#pragma once

#include <QTest>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/application.h"
#include "tests/support/fake_audio_library.h"
#include "tests/support/temp_folder.h"
#include "ui/desktop_window.h"

namespace korvanel {

using namespace std::chrono_literals;
using test::FakeAudioLibrary;

inline FakeAudioLibrary::ScriptedStream liveStream() {
    FakeAudioLibrary::ScriptedStream stream;
    stream.info.flags = audio::kStreamDecode | audio::kStreamBlock;
    stream.pcm.assign(4096, 0);
    return stream;
}

// Runs the GUI thread's events until the condition holds or the bound passes.
template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds bound = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// The real core (player, resolver, recorder, stream information) over the
// scripted audio library, with the desktop window as its face.
class DesktopTest : public ::testing::Test {
protected:
    explicit DesktopTest(const std::string& settingsFile = {})
        : env_("KORVANEL_HOME", home_.path()), noServer_("KORVANEL_UPDATE_SERVER", "http://127.0.0.1:1") {
        if (!settingsFile.empty()) {
            std::ofstream(home_.file("korvanel.xml")) << settingsFile;
        }
        app_ = std::make_unique<Application>(
            [this](Application& core) {
                auto window = std::make_unique<DesktopWindow>(core);
                desktop_ = window.get();
                return window;
            },
            [this]() -> std::unique_ptr<AudioLibrary> {
                auto library = std::make_unique<FakeAudioLibrary>();
                library->setDevices({"Speakers"});
                library->scriptStream("http://radio/live", liveStream());
                library_ = library.get();
                return library;
            });
        app_->player().setWaitScale(0.002);
        waitUntil([this] { return app_->player().channel() != nullptr; });
    }

    MainWindow& window() { return desktop_->mainWindow(); }
    Player& player() { return app_->player(); }
    bool waitForState(Player::State state) {
        return waitUntil([&] { return player().state() == state; });
    }
    // Runs the queued refreshes the events asked for, once the event worker
    // has taken what was posted to it (a loaded machine may lag behind).
    void settle() {
        waitUntil([this] { return desktop_->pendingCount() == 0; }, 2s);
        QTest::qWait(30);
    }

    test::TempFolder home_;
    test::ScopedEnv env_;
    test::ScopedEnv noServer_;
    FakeAudioLibrary* library_ = nullptr;
    DesktopWindow* desktop_ = nullptr;
    std::unique_ptr<Application> app_;
};


}  // namespace korvanel
