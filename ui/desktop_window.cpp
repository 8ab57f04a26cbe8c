#include "ui/desktop_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include "app/application.h"
#include "base/window_event.h"
#include "base/program_path.h"
#include "frontend/display_model.h"
#include "frontend/menu_tree.h"
#include "stream/http_client.h"
#include "audio/output_channel.h"
#include "frontend/preference_rules.h"
#include "settings/language_texts.h"
#include "ui/dialogs/about_dialog.h"
#include "ui/dialogs/find_station_dialog.h"
#include "ui/dialogs/open_url_dialog.h"
#include "ui/dialogs/preferences_dialog.h"
#include "ui/dialogs/station_list_file_dialog.h"
#include "ui/window_helpers.h"

namespace korvanel {

DesktopWindow::DesktopWindow(Application& application)
    : application_(application),
      events_(std::make_unique<WindowEvents>(application, *this)),
      commands_(application, *events_),
      main_(application, commands_, [this] { return events_->connectStartMs(); }),
      quotationDraws_(static_cast<std::minstd_rand::result_type>(std::random_device{}())),
      directory_(application.httpClient(), application.settings(), this) {
    events_->setAutoPlayOnStart(true);
    QObject::connect(&main_, &MainWindow::closeRequested, &main_,
                     [this] { act(visibility_.onClose(visibilityRules())); });
    QObject::connect(&main_, &MainWindow::minimised, &main_,
                     [this] { act(visibility_.onMinimised(visibilityRules())); });
    QObject::connect(&main_, &MainWindow::restored, &main_, [this] {
        if (visibility_.onRestored()) {
            main_.refreshDisplay(DisplayPart::All);  // the meter runs again; a passing tray icon goes
        }
    });
    QObject::connect(&main_, &MainWindow::trayRefreshRequested, &main_, [this] { refreshTray(); });
    QObject::connect(&main_, &QWidget::windowTitleChanged, &tray_, &TrayIcon::setTooltip);
    QObject::connect(&tray_, &TrayIcon::clicked, &main_, [this] { toggleWindow(); });
    tray_.setMenu([this] { return buildTrayMenu(application_, *events_, menuState(),
                                                visibility_.state() == WindowVisibility::State::Shown); },
                  [this](int id) {
                      QMetaObject::invokeMethod(&main_, [this, id] { main_.runCommand(id); }, Qt::QueuedConnection);
                  });
    QObject::connect(&main_, &MainWindow::textDropped, &main_,
                     [this](const QString& text) { commands_.playSource(text.toStdString()); });
    QObject::connect(&log_, &LogWindow::visibilityChanged, &main_, [this](bool) { main_.refreshDisplay(DisplayPart::MenuBar); });
    QObject::connect(&main_, &MainWindow::windowCommand, &main_, [this](int id) { runWindowCommand(id); });
    main_.setMenuSource([this] { return buildMenuBar(application_, *events_, menuState()); });
    // The window's keys work in the log window too.
    for (QAction* shortcut : main_.windowShortcuts()) {
        log_.addAction(shortcut);
    }

    SettingsStore& settings = application.settings();
    restoreLogWindow(settings);
    // The last station is loaded before the start event, which may play it.
    applySettings(settings);
    // The start event waits for the event loop: by then the Application has
    // wired the components' events to this window, so none of what the
    // start sets off is lost.
    QMetaObject::invokeMethod(&main_, [this] { post(makeEvent(EventKind::Started)); }, Qt::QueuedConnection);
    main_.placeAtStoredPosition();
    // Hidden at start only with a tray icon to bring the window back.
    const WindowVisibility::Rules rules = visibilityRules();
    if (!rules.trayAvailable && (rules.startHidden || rules.trayOnMinimize || rules.trayOnClose)) {
        addLogLine(LogKind::Error, application.language().getString("Log/Message/NoTray"));
    }
    if (visibility_.atStart(rules) == WindowVisibility::Action::HideToTray) {
        hideToTray();
    } else {
        main_.show();
        refreshTray();
    }
    if (settings.getBool("Session/LogWindow")) {
        log_.showLog();
    }
}

DesktopWindow::~DesktopWindow() {
    beginClosing();
    queue_.stop(SerialQueue<WindowEvent>::Pending::Drop);
}

void DesktopWindow::restoreLogWindow(const SettingsStore& store) {
    // Keys the log writes only once it was shown: absent, it keeps its own.
    const SettingPoint position =
        store.contains("Session/LogPosition") ? store.getPoint("Session/LogPosition") : SettingPoint{-32000, -32000};
    const SettingPoint size = store.contains("Session/LogSize") ? store.getPoint("Session/LogSize") : SettingPoint{};
    log_.setPlacement(position.x, position.y, size.x, size.y);
    log_.setOnTop(store.getBool("Session/LogOnTop"));
}

void DesktopWindow::applySettings(SettingsStore& store) {
    log_.setOnTop(store.getBool("Session/LogOnTop"));
    const SettingsStore& language = application_.language();
    const auto text = [&language](const char* key) { return fromUtf8(language.getString(key)); };
    log_.setTexts({text("Log/Window/Caption"), text("Log/Menu/AlwaysOnTop"), text("Log/Menu/Clear"),
                   text("Log/Menu/Save"), text("Log/Menu/Close"), text("Log/Text/TextFiles")});
    // The last station played becomes the current one, so Play plays it.
    if (events_->history().empty() && events_->loadHistory(store)) {
        const PlayHistory history = events_->history();
        if (!history.empty()) {
            commands_.selectStation(history.entries().front());
        }
    }
    main_.applySettings(store);
    if (tray_.isShown()) {
        refreshTray();  // its icon file may have changed
    }
}

void DesktopWindow::collectSettings(SettingsStore& store) {
    const QPoint position = log_.recordedPosition();
    const QSize size = log_.recordedSize();
    store.setPoint("Session/LogPosition", position.x(), position.y());
    store.setPoint("Session/LogSize", size.width(), size.height());
    store.setBool("Session/LogWindow", log_.isLogVisible());
    store.setBool("Session/LogOnTop", log_.isOnTop());
    main_.collectSettings(store);
    events_->saveHistory(store);
}

void DesktopWindow::run() {
    QApplication::exec();
    beginClosing();
    collectSettings(application_.settings());
    tray_.setShown(false);
    main_.hide();
    log_.hide();
}

WindowVisibility::Rules DesktopWindow::visibilityRules() const {
    return WindowVisibility::Rules::from(application_.settings(), TrayIcon::available());
}

WindowMenuState DesktopWindow::menuState() const {
    WindowMenuState state;
    state.logVisible = log_.isLogVisible();
    state.trayAvailable = TrayIcon::available();
    state.dialogsAvailable = true;
    return state;
}

void DesktopWindow::act(WindowVisibility::Action action) {
    switch (action) {
        case WindowVisibility::Action::Show: showWindow(); break;
        case WindowVisibility::Action::HideToTray: hideToTray(); break;
        case WindowVisibility::Action::Exit: exitProgram(); break;
        case WindowVisibility::Action::None: break;
    }
}

void DesktopWindow::exitProgram() {
    // Not quit(): that closes every window first, and the log window, closed,
    // would be recorded as hidden in the session.
    QCoreApplication::exit(0);
}

void DesktopWindow::refreshTray() {
    tray_.setIconPath(resolveProgramPath(application_.settings().getString("General/IconPath")));
    tray_.setShown(visibility_.trayIconWanted(visibilityRules()));
}

void DesktopWindow::hideToTray() {
    visibility_.hiddenToTray(DisplayModel::steadyNowMs());
    main_.hide();
    refreshTray();
    main_.refreshDisplay(DisplayPart::Timers);  // no meter or status timer while hidden
}

void DesktopWindow::showWindow() {
    visibility_.shown(DisplayModel::steadyNowMs());
    main_.showNormal();
    main_.raise();
    main_.activateWindow();
    refreshTray();
    main_.refreshDisplay(DisplayPart::All);
}

void DesktopWindow::toggleWindow() { act(visibility_.toggle(visibilityRules(), DisplayModel::steadyNowMs())); }

void DesktopWindow::recoverWindow() {
    showWindow();
    centreOnScreen(main_);
}

void DesktopWindow::runWindowCommand(int id) {
    switch (id) {
        case command::kHideOrShowWindow:
            toggleWindow();
            break;
        case command::kRecoverWindow:
            recoverWindow();
            break;
        case command::kRestoreTrayIcon:
            // Added again, even where the tray lost it.
            tray_.setShown(false);
            tray_.setShown(TrayIcon::available());
            break;
        case command::kExit:
            exitProgram();
            break;
        case command::kLogWindow:
            log_.isLogVisible() ? log_.hideLog() : log_.showLog();
            break;
        case command::kUpdatePresets:
            post(makeEvent(EventKind::UpdatePresets));
            break;
        case command::kEditConfig:
            openInEditor(resolveProgramPath(Application::kSettingsFileName));
            break;
        case command::kEditFavorites:
            openInEditor(resolveProgramPath("favorites.xml"));
            break;
        case command::kImportStations:
            importStations();
            break;
        case command::kExportFavorites:
            exportFavorites();
            break;
        case command::kCopySource:
        case command::kCopyStationUrl:
        case command::kCopyStationName:
        case command::kCopyTrack:
        case command::kCopyMessenger:
            if (const auto text = commands_.clipboardText(id, events_->connectStartMs(), DisplayModel::steadyNowMs())) {
                copyTextToClipboard(QString::fromStdString(*text));
            }
            break;
        case command::kPlayFromClipboard: {
            // Trimmed at both ends; an empty clipboard plays the empty source,
            // whose failure the player reports.
            const QString text = readClipboardText(static_cast<qsizetype>(HttpLimits{}.maxBodyBytes));
            commands_.playSource(text.trimmed().toStdString());
            break;
        }
        case command::kOpenRecordingFolder: {
            // The desktop's file manager; a folder that is not there opens nothing.
            const std::string folder = resolveProgramPath(application_.settings().getString("Recording/Path"));
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
            break;
        }
        case command::kPreferences:
            showPreferences();
            break;
        case command::kFindStation: {
            FindStationDialog finder(directory_, commands_, application_.language(), &main_);
            finder.exec();
            break;
        }
        case command::kAbout: {
            AboutDialog about(application_.language(), static_cast<unsigned>(quotationDraws_()), &main_);
            about.exec();
            break;
        }
        case command::kOpenUrl: {
            const QString clipboard = readClipboardText(static_cast<qsizetype>(HttpLimits{}.maxBodyBytes));
            OpenUrlDialog dialog(application_.language(),
                                 QString::fromStdString(preferences::openUrlPrefill(clipboard.toStdString())), &main_);
            // An empty box plays nothing.
            if (dialog.exec() == QDialog::Accepted && !dialog.address().trimmed().isEmpty()) {
                commands_.playSource(dialog.address().trimmed().toStdString());
            }
            break;
        }
        default:
            break;
    }
}

void DesktopWindow::showPreferences() {
    // The dialog starts from what every component holds now.
    SettingsStore& settings = application_.settings();
    settings.collectAll();
    const OutputChannel* channel = application_.player().channel();
    PreferencesDialog dialog(settings, application_.language(),
                             channel != nullptr ? channel->outputDevices() : std::vector<OutputDevice>{}, &main_);
    QObject::connect(&dialog, &PreferencesDialog::settingsApplied, &main_, [this] { applyChangedSettings(); });
    dialog.exec();
    main_.refreshDisplay(DisplayPart::All);
}

void DesktopWindow::applyChangedSettings() {
    application_.settings().notifyChanged();
    if (!application_.saveSettings()) {
        const std::string path = resolveProgramPath(Application::kSettingsFileName);
        addLogLine(LogKind::Error,
                   formatText(application_.language().getString("Log/Message/SettingsNotSaved"), {path}));
    }
}

void DesktopWindow::importStations() {
    StationListFileDialog files(application_.language(), main_);
    const std::optional<QString> file = files.chooseListToImport();
    if (!file) {
        return;
    }
    const std::vector<TransferLine> lines = commands_.importStations(file->toStdString());
    main_.refreshDisplay(DisplayPart::MenuBar);
    tellTransfer("Dialogs/Transfer/ImportCaption", lines);
}

void DesktopWindow::exportFavorites() {
    StationListFileDialog files(application_.language(), main_);
    const std::optional<StationListFileDialog::ExportChoice> choice = files.chooseExportFile();
    if (!choice) {
        return;
    }
    tellTransfer("Dialogs/Transfer/ExportCaption", {commands_.exportFavorites(choice->file.toStdString(), choice->format)});
}

void DesktopWindow::tellTransfer(const char* captionKey, const std::vector<TransferLine>& lines) {
    std::string text;
    for (const TransferLine& line : lines) {
        addLogLine(line.kind, line.text);
        text += (text.empty() ? "" : "\n") + line.text;
    }
    if (lines.empty() || application_.settings().getBool("General/DisablePopups")) {
        return;
    }
    const MessageIcon icon = lines.front().kind == LogKind::Error ? MessageIcon::Error : MessageIcon::Information;
    main_.showMessage(icon, QString::fromStdString(application_.language().getString(captionKey)),
                      QString::fromStdString(text));
}

void DesktopWindow::openInEditor(const std::string& path) {
    // "General/Editor" is a program and its arguments, split as a shell
    // would split words but never run through one; the file comes last.
    QStringList words = QProcess::splitCommand(QString::fromStdString(application_.settings().getString("General/Editor")));
    if (words.isEmpty()) {
        return;
    }
    const QString program = words.takeFirst();
    words.append(QString::fromStdString(path));
    // A missing editor fails silently, as the menu has nowhere to say so.
    QProcess::startDetached(program, words);
}

void DesktopWindow::beginClosing() {
    std::lock_guard<std::mutex> guard(messageLock_);
    closing_ = true;
    messageClosed_.notify_all();
}

void DesktopWindow::addLogLine(LogKind kind, const std::string& text) {
    log_.addLine(static_cast<int>(kind), fromUtf8(text));
}

void DesktopWindow::setStatusText(int part, const std::string& text) {
    QMetaObject::invokeMethod(
        &main_, [this, part, line = fromUtf8(text)] { main_.setStatusText(part, line); }, Qt::QueuedConnection);
}

void DesktopWindow::refresh(DisplayPart part) {
    QMetaObject::invokeMethod(&main_, [this, part] { main_.refreshDisplay(part); }, Qt::QueuedConnection);
}

void DesktopWindow::showMessage(MessageIcon icon, const std::string& caption, const std::string& text) {
    // The box runs on the GUI thread while this worker waits, as a modal
    // box would hold it; closing the program ends the wait.
    auto answered = std::make_shared<bool>(false);
    {
        std::lock_guard<std::mutex> guard(messageLock_);
        if (closing_) {
            return;
        }
    }
    QMetaObject::invokeMethod(
        &main_,
        [this, icon, answered, title = fromUtf8(caption), message = fromUtf8(text)] {
            {
                std::lock_guard<std::mutex> guard(messageLock_);
                if (closing_) {
                    return;
                }
            }
            main_.showMessage(icon, title, message);
            std::lock_guard<std::mutex> guard(messageLock_);
            *answered = true;
            messageClosed_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(messageLock_);
    messageClosed_.wait(lock, [&] { return *answered || closing_; });
}

void DesktopWindow::setEventObserver(std::function<void(const WindowEvent&)> observer) {
    std::lock_guard<std::mutex> guard(observerLock_);
    observer_ = std::move(observer);
}

void DesktopWindow::handle(WindowEvent& event) {
    events_->handle(event);
    std::lock_guard<std::mutex> guard(observerLock_);
    if (observer_) {
        observer_(event);
    }
}

}  // namespace korvanel
