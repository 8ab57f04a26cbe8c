// The preferences and the small dialogs, opened from the window's commands
// over the real core, driven as a user drives them.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <filesystem>
#include <functional>
#include <set>

#include "audio/output_channel.h"
#include "base/program_path.h"
#include "frontend/menu_tree.h"
#include "stations/station_directory.h"
#include "tests/support/http_test_server.h"
#include "settings/settings_listener.h"
#include "tests/ui/desktop_test_fixture.h"
#include "ui/dialogs/about_dialog.h"
#include "ui/dialogs/colour_button.h"
#include "ui/dialogs/find_station_dialog.h"
#include "ui/dialogs/folder_picker.h"
#include "ui/dialogs/open_url_dialog.h"
#include "ui/dialogs/preferences_dialog.h"
#include "ui/status_bar.h"
#include "ui/window_helpers.h"

namespace korvanel {
namespace {

using test::HttpTestServer;

// Acts on the next modal dialog of this kind once it is on the screen. When
// none comes, whatever is open is closed so that the test fails, not hangs.
template <class Dialog>
void whenOpen(std::function<void(Dialog&)> act, int triesLeft = 2000) {
    QTimer::singleShot(5, [act = std::move(act), triesLeft]() mutable {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            act(*dialog);
        } else if (triesLeft > 0) {
            whenOpen<Dialog>(std::move(act), triesLeft - 1);
        } else if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ADD_FAILURE() << "the expected dialog did not open";
            other->reject();
        }
    });
}

// Types a path into a file dialog's name field and accepts, as a user does.
// Selecting it through the API would race the field's focus, which decides
// whether the dialog takes the selection into the field at all.
void typeAndAccept(QFileDialog& dialog, const std::string& path) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(path));
    static_cast<QDialog&>(dialog).accept();
    if (dialog.isVisible()) {
        ADD_FAILURE() << "the file dialog did not take " << path;
        dialog.reject();
    }
}

void press(QWidget& dialog, const QString& caption) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == caption) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << caption.toStdString();
}

template <class Control>
Control& control(QWidget& dialog, const char* key) {
    auto* found = dialog.findChild<Control*>(QString::fromLatin1(key));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control ") + key);
    }
    return *found;
}

// Counts the settings rounds: one per notifyChanged.
class RoundCounter final : public SettingsListener {
public:
    void applySettings(SettingsStore&) override { ++rounds; }
    void collectSettings(SettingsStore&) override {}
    int rounds = 0;
};

class DialogsTest : public DesktopTest {
protected:
    DialogsTest() { app_->settings().addListener(&counter_); }
    ~DialogsTest() override { app_->settings().removeListener(&counter_); }

    // Opens the preferences from the menu and runs act in them; returns
    // when the dialog is closed.
    void inPreferences(std::function<void(PreferencesDialog&)> act) {
        bool ran = false;
        whenOpen<PreferencesDialog>([&](PreferencesDialog& dialog) {
            ran = true;
            act(dialog);
        });
        window().runCommand(command::kPreferences);
        EXPECT_TRUE(ran);
    }
    std::unique_ptr<SettingsStore> saved() {
        auto file = std::make_unique<SettingsStore>();
        EXPECT_TRUE(file->load(home_.file("korvanel.xml")));
        return file;
    }
    SettingsStore& settings() { return app_->settings(); }

    std::filesystem::path copyLanguages() {
        const std::filesystem::path languages = home_.path() + "/languages";
        std::filesystem::create_directories(languages);
        for (const char* name : kLanguageFiles) {
            std::filesystem::copy_file(std::string(KORVANEL_SOURCE_DIR) + "/languages/" + name, languages / name,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        return languages;
    }

    static constexpr std::array kLanguageFiles = {"lang.default.xml", "lang.de.xml", "lang.fr.xml", "lang.es.xml"};
    RoundCounter counter_;
};

TEST_F(DialogsTest, OkAppliesTwoChecksInOneRoundAndSavesThem) {
    const bool adjust = settings().getBool("PeakMeter/AdjustByVolume");
    ASSERT_FALSE(settings().getBool("General/AlwaysOnTop"));
    inPreferences([](PreferencesDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Korvanel Prefrences"));
        EXPECT_EQ(dialog.pages().count(), 5);
        EXPECT_EQ(dialog.pages().tabText(0), QStringLiteral("General"));
        EXPECT_EQ(dialog.pages().tabText(4), QStringLiteral("Devices"));
        EXPECT_FALSE(dialog.applyButton().isEnabled());
        control<QCheckBox>(dialog, "General/AlwaysOnTop").click();
        control<QCheckBox>(dialog, "PeakMeter/AdjustByVolume").click();
        EXPECT_TRUE(dialog.applyButton().isEnabled());
        press(dialog, QStringLiteral("OK"));
    });
    EXPECT_EQ(counter_.rounds, 1);
    EXPECT_TRUE(settings().getBool("General/AlwaysOnTop"));
    EXPECT_NE(settings().getBool("PeakMeter/AdjustByVolume"), adjust);
    EXPECT_TRUE(saved()->getBool("General/AlwaysOnTop"));
    EXPECT_NE(saved()->getBool("PeakMeter/AdjustByVolume"), adjust);
    // Applied without a restart.
    EXPECT_TRUE(window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(DialogsTest, CancelForgetsWhatApplyDidNotTake) {
    inPreferences([](PreferencesDialog& dialog) {
        control<QCheckBox>(dialog, "General/DisablePopups").click();
        control<QCheckBox>(dialog, "General/StartHidden").click();
        press(dialog, QStringLiteral("Cancel"));
    });
    EXPECT_EQ(counter_.rounds, 0);
    EXPECT_FALSE(settings().getBool("General/DisablePopups"));
    EXPECT_FALSE(settings().getBool("General/StartHidden"));

    inPreferences([](PreferencesDialog& dialog) {
        control<QCheckBox>(dialog, "General/DisablePopups").click();
        dialog.applyButton().click();
        EXPECT_FALSE(dialog.applyButton().isEnabled());
        dialog.applyButton().click();  // nothing new: no second round
        control<QCheckBox>(dialog, "General/StartHidden").click();
        press(dialog, QStringLiteral("Cancel"));
    });
    EXPECT_EQ(counter_.rounds, 1);
    EXPECT_TRUE(settings().getBool("General/DisablePopups"));
    EXPECT_FALSE(settings().getBool("General/StartHidden"));
    EXPECT_TRUE(saved()->getBool("General/DisablePopups"));
}

TEST_F(DialogsTest, FieldsStoreWhatTheirKeysMean) {
    inPreferences([](PreferencesDialog& dialog) {
        EXPECT_EQ(control<QLineEdit>(dialog, "Recording/MaxBuffer").text(), QStringLiteral("5120"));
        control<QLineEdit>(dialog, "Recording/MaxBuffer").setText(QStringLiteral("4096"));
        QLineEdit& bitrate = control<QLineEdit>(dialog, "Recording/LameBitrate");
        bitrate.setText(QStringLiteral("100"));
        EXPECT_EQ(dialog.edited().getInt("Recording/LameBitrate"), 112);
        bitrate.setText(QStringLiteral("128"));
        EXPECT_EQ(dialog.edited().getInt("Recording/LameBitrate"), 128);
        bitrate.setText(QStringLiteral("300"));
        EXPECT_EQ(bitrate.text(), QStringLiteral("300"));  // kept as typed
        control<QLineEdit>(dialog, "General/ProxyPort").setText(QStringLiteral("port"));
        control<QLineEdit>(dialog, "General/Proxy").setText(QString(400, QLatin1Char('p')));
        control<QLineEdit>(dialog, "General/IRCString").setText(QStringLiteral("Hört %title% – %track%"));
        press(dialog, QStringLiteral("OK"));
    });
    EXPECT_EQ(settings().getInt("Recording/MaxBuffer"), 4194304);
    EXPECT_EQ(settings().getInt("Recording/LameBitrate"), 320);
    EXPECT_EQ(settings().getInt("General/ProxyPort"), 0);
    EXPECT_EQ(settings().getString("General/Proxy"), std::string(260, 'p'));
    EXPECT_EQ(saved()->getString("General/IRCString"), "Hört %title% – %track%");
}

TEST_F(DialogsTest, DevicesColoursAndTheFolderReachThePlayerAndTheWindow) {
    library_->setDevices({"Speakers", "JBL Bluetooth", "USB Audio"});
    const bool levellingWas = app_->leveller().enabled();
    const std::string folder = home_.path() + "/records";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/radio.png") << "not really a picture";
    const QColor chosen(10, 200, 30);
    inPreferences([&](PreferencesDialog& dialog) {
        auto& devices = control<QListWidget>(dialog, "Sound/PlayOnDevices");
        QStringList shown;
        for (int row = 0; row < devices.count(); ++row) {
            shown << devices.item(row)->text();
        }
        EXPECT_EQ(shown, (QStringList{QStringLiteral("0  No sound"), QStringLiteral("1  Speakers"),
                                      QStringLiteral("3  USB Audio")}));
        EXPECT_TRUE(devices.item(1)->isSelected());
        devices.item(2)->setSelected(true);
        EXPECT_EQ(dialog.edited().getString("Sound/PlayOnDevices"), "1,3");

        // Levelling: a switch and a target kept within -30..-10 LUFS, both named.
        auto& levelling = control<QCheckBox>(dialog, "Sound/Levelling");
        EXPECT_EQ(levelling.text(), QStringLiteral("Level stations to one loudness (EBU R128)"));
        levelling.setChecked(!levelling.isChecked());
        auto& target = control<QLineEdit>(dialog, "Sound/LevellingTarget");
        EXPECT_EQ(target.accessibleName(), QStringLiteral("Levelling target (LUFS, -30 to -10)"));
        EXPECT_EQ(target.text(), QStringLiteral("-18"));
        target.setText(QStringLiteral("-40"));
        EXPECT_EQ(dialog.edited().getInt("Sound/LevellingTarget"), -30);
        target.setText(QStringLiteral("-23"));

        whenOpen<QColorDialog>([&](QColorDialog& colours) {
            colours.setCurrentColor(chosen);
            colours.accept();
        });
        control<ColourButton>(dialog, "PeakMeter/ColorC").click();
        EXPECT_EQ(control<ColourButton>(dialog, "PeakMeter/ColorC").colour(), chosen);

        // A cancelled picker keeps the folder; a chosen one replaces it.
        whenOpen<QFileDialog>([](QFileDialog& picker) { picker.reject(); });
        control<QPushButton>(dialog, "Recording/Path/Browse").click();
        EXPECT_EQ(control<QLineEdit>(dialog, "Recording/Path").text(), QStringLiteral("saved"));
        whenOpen<QFileDialog>([&](QFileDialog& picker) {
            EXPECT_EQ(picker.windowTitle(), QStringLiteral("Please select a folder to store recorded streams in."));
            typeAndAccept(picker, folder);
        });
        control<QPushButton>(dialog, "Recording/Path/Browse").click();
        EXPECT_EQ(control<QLineEdit>(dialog, "Recording/Path").text(), QString::fromStdString(folder));

        // An icon inside the program folder is kept relative to it.
        whenOpen<QFileDialog>([&](QFileDialog& chooser) {
            EXPECT_EQ(chooser.directory().absolutePath().toStdString() + "/", programFolder());
            typeAndAccept(chooser, folder + "/radio.png");
        });
        control<QPushButton>(dialog, "General/IconPath/Browse").click();
        EXPECT_EQ(control<QLineEdit>(dialog, "General/IconPath").text(), QStringLiteral("records/radio.png"));
        press(dialog, QStringLiteral("OK"));
    });
    EXPECT_EQ(settings().getString("Sound/PlayOnDevices"), "1,3");
    ASSERT_TRUE(waitUntil([&] { return player().channel()->devices() == "1,3"; }));
    EXPECT_EQ(app_->leveller().targetLufs(), -23);
    EXPECT_EQ(app_->leveller().enabled(), !levellingWas);
    EXPECT_EQ(window().meter().picture().pixelColor(0, 0), chosen);
    EXPECT_EQ(app_->recorder().folder(), folder + "/");
    EXPECT_EQ(settings().getString("General/IconPath"), "records/radio.png");
}

TEST_F(DialogsTest, AnotherLanguageSpeaksAtOnce) {
    const std::filesystem::path languages = copyLanguages();
    SettingsStore german;
    ASSERT_TRUE(german.load((languages / "lang.de.xml").string()));
    inPreferences([](PreferencesDialog& dialog) {
        auto& chooser = control<QComboBox>(dialog, "General/LanguageFile");
        QStringList names;
        for (int i = 0; i < chooser.count(); ++i) {
            names << chooser.itemText(i);
        }
        EXPECT_EQ(names, (QStringList{QStringLiteral("Deutsch"), QStringLiteral("English"), QStringLiteral("Español"),
                                      QStringLiteral("Français")}));
        EXPECT_EQ(chooser.currentText(), QStringLiteral("English"));
        chooser.setCurrentIndex(0);
        press(dialog, QStringLiteral("OK"));
    });
    EXPECT_EQ(settings().getString("General/LanguageFile"), "languages/lang.de.xml");
    EXPECT_EQ(window().playButton().text().toStdString(), german.getString("Main/Buttons/Play"));
    EXPECT_EQ(desktop_->logWindow().windowTitle().toStdString(), german.getString("Log/Window/Caption"));
    // What a screen reader hears changes with the captions.
    ASSERT_NE(german.getString("Main/Accessible/Volume"), "Volume");
    EXPECT_EQ(window().volumeSlider().accessibleName().toStdString(), german.getString("Main/Accessible/Volume"));
    EXPECT_EQ(window().meter().accessibleName().toStdString(), german.getString("Main/Accessible/PeakMeter"));
    EXPECT_EQ(window().nextButton().accessibleName().toStdString(), german.getString("Main/Accessible/Next"));
    EXPECT_EQ(window().stopButton().accessibleDescription().toStdString(), german.getString("Main/Accessible/StopInfo"));
    EXPECT_EQ(window().statusPart(status_part::kTimes).accessibleDescription().toStdString(),
              german.getString("Main/Accessible/Times"));
    EXPECT_EQ(window().descriptionLabel().accessibleDescription().toStdString(),
              german.getString("Main/Accessible/StreamType"));
    inPreferences([&](PreferencesDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle().toStdString(), german.getString("Dialogs/Preferences/Caption"));
        press(dialog, QString::fromStdString(german.getString("Dialogs/Buttons/Cancel")));
    });
}

// Every caption of every shipped language fits the main window's controls
// at the default font: a text cut off in German is a bug.
TEST_F(DialogsTest, EveryLanguageFitsTheMainWindow) {
    copyLanguages();
    const auto fits = [](const QWidget& control, const QString& caption, int room) {
        QString shown = caption;
        shown.remove(QLatin1Char('&'));
        return control.fontMetrics().horizontalAdvance(shown) + room <= control.width();
    };
    const std::vector<std::pair<const char*, QPushButton*>> buttons = {
        {"Main/Buttons/Play", &window().playButton()},    {"Main/Buttons/Stop", &window().stopButton()},
        {"Main/Buttons/Prev", &window().previousButton()}, {"Main/Buttons/Next", &window().nextButton()},
        {"Main/Buttons/RecOff", &window().recordButton()}, {"Main/Buttons/RecOn", &window().recordButton()},
        {"Main/Buttons/MuteOff", &window().muteButton()},  {"Main/Buttons/MuteOn", &window().muteButton()}};
    for (const char* file : kLanguageFiles) {
        SCOPED_TRACE(file);
        settings().setString("General/LanguageFile", std::string("languages/") + file);
        settings().notifyChanged();
        const SettingsStore& language = app_->language();
        const auto caption = [&](const char* key) { return QString::fromStdString(language.getString(key)); };
        for (const auto& [key, button] : buttons) {
            EXPECT_TRUE(fits(*button, caption(key), 6)) << key << ": " << language.getString(key);
        }
        // Every top menu shows, none behind the menu bar's overflow arrow.
        window().refreshDisplay(DisplayPart::MenuBar);
        EXPECT_LE(window().menus().sizeHint().width(), window().width())
            << window().menus().sizeHint().width() << " > " << window().width();
        for (const char* key : {"Main/Text/InfoBox", "Main/Text/PlayBox"}) {
            EXPECT_LT(window().fontMetrics().horizontalAdvance(caption(key)) + 24, window().width() / 2) << key;
        }
        for (const char* key : {"Main/Status/Aborting", "Main/Status/Buffering", "Main/Status/Connecting",
                                "Main/Status/Downloading", "Main/Status/Idling", "Main/Status/Playing",
                                "Main/Status/Recording"}) {
            EXPECT_TRUE(fits(window().statusPart(0), QLatin1Char(' ') + caption(key), 2))
                << key << ": " << language.getString(key);
        }
    }
}

TEST_F(DialogsTest, OpenUrlPlaysWhatWasConfirmedAndNothingOnEscape) {
    ASSERT_TRUE(copyTextToClipboard(QStringLiteral(" \thttp://radio/live\r\n")));
    whenOpen<OpenUrlDialog>([](OpenUrlDialog& dialog) {
        EXPECT_EQ(dialog.address(), QStringLiteral("http://radio/live"));
        QTest::keyClick(&dialog.edit(), Qt::Key_Escape);
    });
    window().runCommand(command::kOpenUrl);
    settle();
    EXPECT_EQ(player().state(), Player::State::Idle);

    ASSERT_TRUE(copyTextToClipboard(QStringLiteral("HTTP://radio/live")));
    whenOpen<OpenUrlDialog>([](OpenUrlDialog& dialog) {
        EXPECT_EQ(dialog.address(), QString());
        QTest::keyClicks(&dialog.edit(), QStringLiteral("http://radio/live"));
        QTest::keyClick(&dialog.edit(), Qt::Key_Return);
    });
    window().runCommand(command::kOpenUrl);
    EXPECT_TRUE(waitForState(Player::State::Playing));
}

TEST_F(DialogsTest, TheAboutBoxShowsEveryQuotationAndClosesOnEscape) {
    std::set<QString> quotations;
    for (unsigned draw = 0; draw < 8; ++draw) {
        AboutDialog about(app_->language(), draw);
        EXPECT_TRUE(about.quotation().startsWith(QLatin1Char('"')));
        quotations.insert(about.quotation());
    }
    EXPECT_EQ(quotations.size(), 8u);

    bool shown = false;
    whenOpen<AboutDialog>([&](AboutDialog& about) {
        shown = true;
        EXPECT_EQ(about.windowTitle(), QStringLiteral("About Korvanel Radio"));
        EXPECT_EQ(quotations.count(about.quotation()), 1u);
        QTest::keyClick(&about, Qt::Key_Escape);
    });
    window().runCommand(command::kAbout);
    EXPECT_TRUE(shown);
}

TEST_F(DialogsTest, FindStationSearchesWithoutWaitingSortsPlaysAndKeepsAStation) {
    const std::string answer =
        "[{\"stationuuid\":\"u-jazz\",\"name\":\"Jazz One\",\"url\":\"http://radio/other\",\"codec\":\"AAC\","
        "\"bitrate\":64,\"clickcount\":900,\"countrycode\":\"FR\"},"
        "{\"stationuuid\":\"u-live\",\"name\":\"Live Jazz\",\"url_resolved\":\"http://radio/live\",\"codec\":\"MP3\","
        "\"bitrate\":320,\"clickcount\":10,\"countrycode\":\"DE\",\"homepage\":\"https://live.example/\"}]";
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(answer)));
    std::string address = server.url("/");
    address.pop_back();
    settings().setString(StationDirectory::kServerKey, address);
    test::writeFile(home_.file("favorites.xml"), "<Favorites>\n</Favorites>\n");

    bool ran = false;
    whenOpen<FindStationDialog>([&](FindStationDialog& finder) {
        ran = true;
        finder.searchBox().setText(QStringLiteral("jazz"));
        QTest::keyClick(&finder.searchBox(), Qt::Key_Return);
        EXPECT_TRUE(finder.searching());  // the window goes on meanwhile
        ASSERT_TRUE(waitUntil([&] { return !finder.searching(); }));
        QTableWidget& table = finder.results();
        ASSERT_EQ(table.rowCount(), 2);
        table.sortItems(3, Qt::DescendingOrder);  // by bit rate
        EXPECT_EQ(table.item(0, 0)->text(), QStringLiteral("Live Jazz"));
        table.selectRow(0);
        finder.playButton().click();
        finder.addButton().click();
        finder.reject();
    });
    window().runCommand(command::kFindStation);
    ASSERT_TRUE(ran);
    EXPECT_TRUE(waitForState(Player::State::Playing));
    EXPECT_EQ(app_->streamInfo()->stationName(), "Live Jazz");
    EXPECT_NE(test::readFile(home_.file("favorites.xml")).find("<Source>http://radio/live</Source>"), std::string::npos);
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() >= 2; }));
    EXPECT_NE(server.requests()[0].find("name=jazz"), std::string::npos);
    EXPECT_EQ(server.requests()[1].rfind("GET /json/url/u-live ", 0), 0u);
}

TEST_F(DialogsTest, StationListsComeInThroughTheFileMenuAndGoOutAsTheChosenForm) {
    test::writeFile(home_.file("favorites.xml"), "<Favorites>\n</Favorites>\n");
    const std::string list = home_.file("Late Jazz.m3u");
    test::writeFile(list, "#EXTM3U\n#EXTINF:-1,Live & Late\nhttp://radio/live\nftp://radio/old\n");
    // Each file dialog, then the message that says how it went.
    const auto throughDialog = [&](const char* caption, int filter, const std::string& typed, QString& told) {
        whenOpen<QFileDialog>([=](QFileDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle().toStdString(), caption);
            if (filter >= 0) {
                auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
                ASSERT_NE(types, nullptr);
                // Down the list from the keyboard, as a user picks one.
                for (int i = 0; i < filter; ++i) {
                    QTest::keyClick(types, Qt::Key_Down);
                }
            }
            typeAndAccept(dialog, typed);
        });
        whenOpen<QMessageBox>([&told](QMessageBox& box) {
            told = box.text();
            box.accept();
        });
    };

    QString told;
    throughDialog("Import Stations", -1, list, told);
    window().runCommand(command::kImportStations);
    EXPECT_NE(told.indexOf(QStringLiteral("Imported 1 stations")), -1) << told.toStdString();
    EXPECT_NE(told.indexOf(QStringLiteral("1 entries name no network address")), -1) << told.toStdString();
    QAction* station = nullptr;
    for (QAction* top : window().menus().actions()) {
        for (QAction* group : top->menu() != nullptr ? top->menu()->actions() : QList<QAction*>()) {
            if (group->text() == QStringLiteral("Late Jazz") && group->menu() != nullptr &&
                !group->menu()->actions().isEmpty()) {
                station = group->menu()->actions().constFirst();
            }
        }
    }
    ASSERT_NE(station, nullptr) << "the group is in the Favorites menu at once";
    EXPECT_EQ(station->text(), QStringLiteral("Live && Late"));
    station->trigger();
    EXPECT_TRUE(waitForState(Player::State::Playing));

    // The same list again adds nothing.
    throughDialog("Import Stations", -1, list, told);
    window().runCommand(command::kImportStations);
    EXPECT_NE(told.indexOf(QStringLiteral("in Favorites already")), -1) << told.toStdString();

    // The chosen filter names the form and the extension of a bare name.
    throughDialog("Export Favorites", 2, home_.file("mine"), told);
    window().runCommand(command::kExportFavorites);
    const std::string xspf = test::readFile(home_.file("mine.xspf"));
    EXPECT_NE(xspf.find("<location>http://radio/live</location>"), std::string::npos) << xspf;
    EXPECT_NE(xspf.find("<title>Live &amp; Late</title>"), std::string::npos) << xspf;
    EXPECT_NE(told.indexOf(QStringLiteral("Exported 1 stations")), -1) << told.toStdString();

    throughDialog("Export Favorites", -1, home_.file("none/such/folder/x.pls"), told);
    window().runCommand(command::kExportFavorites);
    EXPECT_NE(told.indexOf(QStringLiteral("Could not write")), -1) << told.toStdString();
}

TEST_F(DialogsTest, FindStationStopsASlowDirectoryAtOnce) {
    HttpTestServer silent([](HttpTestServer::Connection& connection, const std::string&) {
        connection.pause(std::chrono::seconds(20));
    });
    std::string address = silent.url("/");
    address.pop_back();
    settings().setString(StationDirectory::kServerKey, address);
    StationDirectory directory(app_->httpClient(), settings());
    const auto started = std::chrono::steady_clock::now();
    {
        FindStationDialog finder(directory, desktop_->commands(), app_->language());
        finder.search();
        QTest::qWait(100);
        ASSERT_TRUE(finder.searching());
        finder.stopSearch();
        EXPECT_FALSE(finder.searching());
        EXPECT_TRUE(finder.status().text().isEmpty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

}  // namespace
}  // namespace korvanel
