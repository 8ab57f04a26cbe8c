#include "app/application.h"

#include <filesystem>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/empty_window.h"
#include "base/program_path.h"
#include "settings/default_settings.h"
#include "settings/language_texts.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::TempFolder;
using test::writeFile;

// A window that records what it saw, for checking order and wiring.
class ProbeWindow : public AppWindow {
public:
    explicit ProbeWindow(Application& app) : app_(app) {}
    void applySettings(SettingsStore&) override {
        playingTextAtApply = app_.language().getString("Main/Status/Playing");
        ++applied;
    }
    void collectSettings(SettingsStore& store) override { store.setBool("Session/LogWindow", true); }
    void run() override { ran = true; }
    void post(WindowEvent) override {}

    std::string playingTextAtApply;
    int applied = 0;
    bool ran = false;

private:
    Application& app_;
};

std::string languageFile(const std::string& playing) {
    return "<Lang><Main><Status><Playing>" + playing + "</Playing></Status></Main></Lang>";
}

WindowFactory emptyWindow() {
    return [](Application&) { return std::make_unique<EmptyWindow>(); };
}

// Runs the test from another current directory, restoring the old one.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& path) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~ScopedCurrentDirectory() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

TEST(Application, FirstStartWritesEveryDefaultIntoTheProgramFolder) {
    TempFolder home, elsewhere;
    ScopedEnv env("KORVANEL_HOME", home.path());
    ScopedCurrentDirectory cwd(elsewhere.path());
    {
        Application app(emptyWindow());
        EXPECT_EQ(app.settings().getInt("General/ReconnectRetries"), 3);
        EXPECT_EQ(app.language().getString("Main/Buttons/Play"), "&Play");
        app.mainWindow()->run();
    }
    EXPECT_FALSE(std::filesystem::exists(elsewhere.file("korvanel.xml")));
    const std::string written = readFile(home.file("korvanel.xml"));
    ASSERT_FALSE(written.empty());

    SettingsStore reread;
    ASSERT_TRUE(reread.load(home.file("korvanel.xml")));
    SettingsStore defaults;
    registerDefaultSettings(defaults);
    EXPECT_EQ(reread.entries().size(), 43u);
    // Levelling is on for a new settings file; everything else is the default.
    defaults.setBool("Sound/Levelling", true);
    for (const auto& [key, entry] : defaults.entries()) {
        EXPECT_EQ(reread.getText(key, entry.type), entry.text) << key;
    }
    EXPECT_EQ(reread.rootName(), "Korvanel");
    EXPECT_EQ(written.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n", 0), 0u);
    EXPECT_NE(written.find("<Korvanel target=\"Korvanel Radio\" version=\"v0.3.6\">"), std::string::npos);
}

TEST(Application, SettingsPersistAcrossRunsAndTheWindowSeesNewTextsFirst) {
    TempFolder home;
    ScopedEnv env("KORVANEL_HOME", home.path());
    std::filesystem::create_directories(home.file("languages"));
    writeFile(home.file("languages/lang.a.xml"), languageFile("Spielt.."));
    {
        Application app(emptyWindow());
        app.settings().setString("General/LanguageFile", "languages\\lang.a.xml");
        app.settings().setInt("Session/Volume", 40);
    }
    ProbeWindow* probe = nullptr;
    {
        Application app([&probe](Application& a) {
            auto window = std::make_unique<ProbeWindow>(a);
            probe = window.get();
            return window;
        });
        EXPECT_EQ(app.settings().getInt("Session/Volume"), 40);
        EXPECT_EQ(app.language().getString("Main/Status/Playing"), "Spielt..");
        EXPECT_EQ(probe->applied, 0);  // no notification follows startup

        app.settings().notifyChanged();
        EXPECT_EQ(probe->applied, 1);
        EXPECT_EQ(probe->playingTextAtApply, "Spielt..");

        // The window's live state reaches the file through a save during the run.
        EXPECT_TRUE(app.saveSettings());
    }
    SettingsStore reread;
    ASSERT_TRUE(reread.load(home.file("korvanel.xml")));
    EXPECT_TRUE(reread.getBool("Session/LogWindow"));
}

TEST(Application, LanguageFilesFallBackAndSwitchCleanly) {
    TempFolder home;
    ScopedEnv env("KORVANEL_HOME", home.path());
    std::filesystem::create_directories(home.file("languages"));
    writeFile(home.file("languages/lang.a.xml"),
              "<Lang><Main><Status><Playing>A spielt</Playing><Idling>A idle</Idling></Status>"
              "<Buttons><Play type=\"int\">7</Play></Buttons></Main></Lang>");
    writeFile(home.file("languages/lang.b.xml"), languageFile("B joue"));

    Application app(emptyWindow());
    SettingsStore& settings = app.settings();
    SettingsStore& language = app.language();

    settings.setString("General/LanguageFile", "languages/lang.a.xml");
    settings.notifyChanged();
    EXPECT_EQ(language.getString("Main/Status/Playing"), "A spielt");
    EXPECT_EQ(language.getString("Main/Status/Idling"), "A idle");
    EXPECT_EQ(language.getString("Main/Buttons/Play"), "");  // stored as int: not a text
    EXPECT_EQ(language.getString("Main/Status/Connecting"), "Connecting..");

    settings.setString("General/LanguageFile", "languages/lang.b.xml");
    settings.notifyChanged();
    EXPECT_EQ(language.getString("Main/Status/Playing"), "B joue");
    EXPECT_EQ(language.getString("Main/Status/Idling"), "Idling..");  // nothing of A survives
    EXPECT_EQ(language.getString("Main/Buttons/Play"), "&Play");

    settings.setString("General/LanguageFile", home.file("languages/lang.a.xml"));  // absolute
    settings.notifyChanged();
    EXPECT_EQ(language.getString("Main/Status/Playing"), "A spielt");

    settings.setString("General/LanguageFile", "languages/missing.xml");
    settings.notifyChanged();
    EXPECT_EQ(language.getString("Main/Status/Playing"), "Playing..");
}

TEST(Application, UnusableSettingsFileLeavesDefaultsAndIsReplacedOnExit) {
    TempFolder home;
    ScopedEnv env("KORVANEL_HOME", home.path());
    writeFile(home.file("korvanel.xml"), "<Korvanel><General><Proxy>half");
    {
        Application app(emptyWindow());
        EXPECT_EQ(app.settings().getInt("Session/Volume"), 100);
    }
    SettingsStore reread;
    EXPECT_TRUE(reread.load(home.file("korvanel.xml")));
    EXPECT_EQ(reread.entries().size(), 43u);
}

TEST(Application, LevellingStaysOffUnderASettingsFileThatPredatesIt) {
    TempFolder home;
    ScopedEnv env("KORVANEL_HOME", home.path());
    writeFile(home.file("korvanel.xml"),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n<Korvanel><Sound>"
              "<Compressor type=\"bool\">true</Compressor></Sound></Korvanel>\r\n");
    {
        Application app(emptyWindow());
        EXPECT_TRUE(app.soundEffects()->compressorOn());
        EXPECT_FALSE(app.leveller().enabled());
        EXPECT_EQ(app.leveller().targetLufs(), -18);
    }
    SettingsStore reread;
    ASSERT_TRUE(reread.load(home.file("korvanel.xml")));
    EXPECT_EQ(reread.getText("Sound/Levelling", SettingType::Bool), "false");
    EXPECT_EQ(reread.getInt("Sound/LevellingTarget"), -18);
}

TEST(Application, ShippedEnglishLanguageFileHoldsExactlyTheBuiltInTexts) {
    SettingsStore shipped;
    ASSERT_TRUE(shipped.load(std::string(KORVANEL_BUILD_DIR) + "/languages/lang.default.xml"));
    SettingsStore builtIn;
    registerDefaultTexts(builtIn);
    EXPECT_EQ(shipped.entries().size(), builtIn.entries().size());
    for (const auto& [key, entry] : builtIn.entries()) {
        EXPECT_EQ(shipped.getString(key), entry.text) << key;
    }
}

TEST(ProgramPath, ResolvesAgainstTheProgramFolder) {
    TempFolder home;
    {
        ScopedEnv env("KORVANEL_HOME", home.path());
        EXPECT_EQ(programFolder(), home.path() + "/");
        EXPECT_EQ(resolveProgramPath("korvanel.xml"), home.file("korvanel.xml"));
        EXPECT_EQ(resolveProgramPath("languages\\lang.default.xml"), home.file("languages/lang.default.xml"));
        EXPECT_EQ(resolveProgramPath("/etc/hosts"), "/etc/hosts");
        std::filesystem::create_directories(home.file("saved"));
        EXPECT_EQ(resolveProgramPath("saved"), home.file("saved/"));
        EXPECT_EQ(resolveProgramPath("saved//"), home.file("saved/"));
        EXPECT_EQ(resolveProgramPath(""), home.path() + "/");
    }
    ScopedEnv unset("KORVANEL_HOME", "");
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(programFolder(), std::filesystem::path(exe).parent_path().string() + "/");
}

}  // namespace
}  // namespace korvanel
