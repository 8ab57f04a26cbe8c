#include "ui/dialogs/preferences_dialog.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

#include "audio/leveller.h"
#include "audio/output_channel.h"
#include "base/program_path.h"
#include "frontend/preference_rules.h"
#include "ui/dialogs/colour_button.h"
#include "ui/dialogs/folder_picker.h"
#include "ui/hyperlink_label.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

namespace {

// A language file names its own language; a file that cannot be read, or
// says nothing, goes by its file name.
QString languageName(const QString& path, const QString& fileName) {
    SettingsStore file;
    if (!file.load(path.toStdString())) {
        return fileName;
    }
    const std::string name = file.getString("Language/Text/Name");
    return name.empty() ? fileName : fromUtf8(name).left(64);
}

}  // namespace

PreferencesDialog::PreferencesDialog(SettingsStore& settings, const SettingsStore& language,
                                     std::vector<OutputDevice> devices, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      language_(language),
      devices_(std::move(devices)),
      pages_(makeChild<QTabWidget>(*this)) {
    edited_ = settings_;
    setWindowTitle(text("Dialogs/Preferences/Caption"));
    pages_->addTab(generalPage(), text("Dialogs/Preferences/General"));
    pages_->addTab(general2Page(), text("Dialogs/Preferences/General2"));
    pages_->addTab(recordingPage(), text("Dialogs/Preferences/Recording"));
    pages_->addTab(recording2Page(), text("Dialogs/Preferences/Recording2"));
    pages_->addTab(devicesPage(), text("Dialogs/Preferences/Devices"));
    pages_->setCurrentIndex(0);

    auto* buttons = makeChild<QDialogButtonBox>(*this);
    QPushButton* ok = buttons->addButton(text("Dialogs/Buttons/OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(text("Dialogs/Buttons/Cancel"), QDialogButtonBox::RejectRole);
    apply_ = buttons->addButton(text("Dialogs/Buttons/Apply"), QDialogButtonBox::ApplyRole);
    apply_->setEnabled(false);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        apply();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, &PreferencesDialog::apply);

    auto* layout = makeLayout<QVBoxLayout>(*this);
    layout->addWidget(pages_);
    layout->addWidget(buttons);
    // Loading the controls wrote nothing that the user changed.
    changed_ = false;
    apply_->setEnabled(false);
}

QString PreferencesDialog::text(const char* key) const { return fromUtf8(language_.getString(key)); }

void PreferencesDialog::changed() {
    changed_ = true;
    apply_->setEnabled(true);
}

void PreferencesDialog::apply() {
    if (!changed_) {
        return;
    }
    changed_ = false;
    apply_->setEnabled(false);
    settings_ = edited_;
    Q_EMIT settingsApplied();
}

QCheckBox* PreferencesDialog::addCheck(QBoxLayout& layout, const char* textKey, const char* key) {
    auto* check = makeChild<QCheckBox>(*layout.parentWidget(), text(textKey));
    check->setObjectName(QString::fromLatin1(key));
    check->setChecked(edited_.getBool(key));
    connect(check, &QCheckBox::toggled, this, [this, key](bool on) {
        edited_.setBool(key, on);
        changed();
    });
    layout.addWidget(check);
    return check;
}

QLineEdit* PreferencesDialog::makeField(QWidget& parent, const char* key, const QString& shown,
                                        std::function<void(const std::string&)> store) {
    auto* field = makeChild<QLineEdit>(parent);
    field->setObjectName(QString::fromLatin1(key));
    field->setMaxLength(preferences::kMaxFieldChars);
    field->setText(shown);
    connect(field, &QLineEdit::textChanged, this, [this, store = std::move(store)](const QString& typed) {
        store(typed.toStdString());
        changed();
    });
    return field;
}

QLineEdit* PreferencesDialog::addText(QFormLayout& form, const char* labelKey, const char* key) {
    QLineEdit* field = makeField(*form.parentWidget(), key, fromUtf8(edited_.getString(key)),
                                 [this, key](const std::string& typed) { edited_.setString(key, typed); });
    form.addRow(text(labelKey), field);
    return field;
}

QLineEdit* PreferencesDialog::addNumber(QFormLayout& form, const char* labelKey, const char* key,
                                        int (*shown)(int), int (*stored)(int)) {
    QLineEdit* field =
        makeField(*form.parentWidget(), key, QString::number(shown(edited_.getInt(key))),
                  [this, key, stored](const std::string& typed) {
                      edited_.setInt(key, stored(preferences::numberFromField(typed)));
                  });
    form.addRow(text(labelKey), field);
    return field;
}

QPushButton* PreferencesDialog::addBrowseRow(QFormLayout& form, const char* labelKey, QWidget& control,
                                             const QString& browseName) {
    auto* row = makeChild<QWidget>(*form.parentWidget());
    auto* rowLayout = makeLayout<QHBoxLayout>(*row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    control.setParent(row);
    auto* browse = makeChild<QPushButton>(*row, QStringLiteral("..."));
    browse->setObjectName(browseName);
    browse->setAccessibleName(text(labelKey).remove(QLatin1Char(':')));
    browse->setMaximumWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3);
    rowLayout->addWidget(&control, 1);
    rowLayout->addWidget(browse);
    form.addRow(text(labelKey), row);
    return browse;
}

QLineEdit* PreferencesDialog::addBrowsable(QFormLayout& form, const char* labelKey, const char* key,
                                           QPushButton*& browse) {
    QLineEdit* field = makeField(*form.parentWidget(), key, fromUtf8(edited_.getString(key)),
                                 [this, key](const std::string& typed) { edited_.setString(key, typed); });
    browse = addBrowseRow(form, labelKey, *field, QString::fromLatin1(key) + QStringLiteral("/Browse"));
    return field;
}

void PreferencesDialog::addColour(QBoxLayout& layout, const char* textKey, const char* key) {
    auto* button = makeChild<ColourButton>(*layout.parentWidget(), text(textKey));
    button->setObjectName(QString::fromLatin1(key));
    button->setColour(toQColor(edited_.getColor(key)));
    connect(button, &ColourButton::colourChosen, this, [this, key](QColor colour) {
        edited_.setColor(key, fromQColor(colour));
        changed();
    });
    layout.addWidget(button);
}

std::vector<std::pair<QString, QString>> PreferencesDialog::shippedLanguages() {
    std::vector<std::pair<QString, QString>> found;
    const QDir folder(QString::fromStdString(resolveProgramPath("languages")));
    const QStringList files =
        folder.entryList({QStringLiteral("lang.*.xml")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& file : files) {
        found.emplace_back(languageName(folder.filePath(file), file), QStringLiteral("languages/") + file);
    }
    std::sort(found.begin(), found.end());
    return found;
}

void PreferencesDialog::addLanguageChooser(QFormLayout& form) {
    auto* chooser = makeChild<QComboBox>(*form.parentWidget());
    chooser->setObjectName(QStringLiteral("General/LanguageFile"));
    const std::string current = resolveProgramPath(edited_.getString("General/LanguageFile"));
    int selected = -1;
    for (const auto& [name, path] : shippedLanguages()) {
        chooser->addItem(name, path);
        if (resolveProgramPath(path.toStdString()) == current) {
            selected = chooser->count() - 1;
        }
    }
    if (selected < 0) {
        // A file of the user's own stays choosable as it is.
        const QString stored = fromUtf8(edited_.getString("General/LanguageFile"));
        chooser->addItem(stored, stored);
        selected = chooser->count() - 1;
    }
    chooser->setCurrentIndex(selected);
    connect(chooser, &QComboBox::currentIndexChanged, this, [this, chooser](int index) {
        if (index >= 0) {
            edited_.setString("General/LanguageFile", chooser->itemData(index).toString().toStdString());
            changed();
        }
    });
    QPushButton* browse = addBrowseRow(form, "Dialogs/Preferences/Language", *chooser,
                                       QStringLiteral("General/LanguageFile/Browse"));
    connect(browse, &QPushButton::clicked, this, [this, chooser] { chooseLanguage(*chooser); });
}

QWidget* PreferencesDialog::generalPage() {
    auto* page = makeChild<QWidget>(*this);
    auto* layout = makeLayout<QVBoxLayout>(*page);
    addCheck(*layout, "Dialogs/Preferences/AlwaysOnTop", "General/AlwaysOnTop");
    addCheck(*layout, "Dialogs/Preferences/DisablePopups", "General/DisablePopups");
    addCheck(*layout, "Dialogs/Preferences/TrackNotifications", "General/TrackNotifications");
    addCheck(*layout, "Dialogs/Preferences/AutoPlay", "General/AutoPlayOnStart");

    auto* tray = makeChild<QGroupBox>(*page, text("Dialogs/Preferences/TrayIcon"));
    auto* trayLayout = makeLayout<QVBoxLayout>(*tray);
    addCheck(*trayLayout, "Dialogs/Preferences/AlwaysShow", "General/PersistentTrayIcon");
    addCheck(*trayLayout, "Dialogs/Preferences/MinimizeToTray", "General/TrayOnMinimize");
    addCheck(*trayLayout, "Dialogs/Preferences/MinimizeToTrayOnClose", "General/TrayOnClose");
    addCheck(*trayLayout, "Dialogs/Preferences/StartHidden", "General/StartHidden");
    layout->addWidget(tray);

    auto* form = makeNestedLayout<QFormLayout>(*layout);
    addText(*form, "Dialogs/Preferences/Proxy", "General/Proxy");
    addNumber(*form, "Dialogs/Preferences/ProxyPort", "General/ProxyPort");
    addNumber(*form, "Dialogs/Preferences/HistoryLength", "Session/MaxHistoryLength");
    QPushButton* browseIcon = nullptr;
    QLineEdit* icon = addBrowsable(*form, "Dialogs/Preferences/IconFile", "General/IconPath", browseIcon);
    connect(browseIcon, &QPushButton::clicked, this, [this, icon] { chooseIcon(*icon); });
    addLanguageChooser(*form);
    addText(*form, "Dialogs/Preferences/Editor", "General/Editor");
    layout->addStretch();
    return page;
}

QWidget* PreferencesDialog::general2Page() {
    auto* page = makeChild<QWidget>(*this);
    auto* layout = makeLayout<QVBoxLayout>(*page);
    auto* form = makeNestedLayout<QFormLayout>(*layout);
    addNumber(*form, "Dialogs/Preferences/ReconnectRetries", "General/ReconnectRetries");
    addNumber(*form, "Dialogs/Preferences/RestartRetries", "General/RestartRetries");
    addText(*form, "Dialogs/Preferences/MessengerString", "General/IRCString");

    auto* meter = makeChild<QGroupBox>(*page, text("Dialogs/Preferences/PeakMeter"));
    auto* meterLayout = makeLayout<QVBoxLayout>(*meter);
    addCheck(*meterLayout, "Dialogs/Preferences/MeterEnabled", "PeakMeter/Enabled");
    addCheck(*meterLayout, "Dialogs/Preferences/AdjustByVolume", "PeakMeter/AdjustByVolume");
    auto* colours = makeNestedLayout<QHBoxLayout>(*meterLayout);
    addColour(*colours, "Dialogs/Preferences/ColorTop", "PeakMeter/ColorA");
    addColour(*colours, "Dialogs/Preferences/ColorBottom", "PeakMeter/ColorB");
    addColour(*colours, "Dialogs/Preferences/ColorBackground", "PeakMeter/ColorC");
    layout->addWidget(meter);
    layout->addStretch();
    return page;
}

QWidget* PreferencesDialog::recordingPage() {
    auto* page = makeChild<QWidget>(*this);
    auto* layout = makeLayout<QVBoxLayout>(*page);
    auto* form = makeNestedLayout<QFormLayout>(*layout);
    QPushButton* browseFolder = nullptr;
    QLineEdit* folder = addBrowsable(*form, "Dialogs/Preferences/RecordingFolder", "Recording/Path", browseFolder);
    connect(browseFolder, &QPushButton::clicked, this, [this, folder] { chooseRecordingFolder(*folder); });
    addText(*form, "Dialogs/Preferences/FilePattern", "Recording/FilePattern");

    addNumber(*form, "Dialogs/Preferences/MaxBuffer", "Recording/MaxBuffer", preferences::bytesToKib,
              preferences::kibToBytes);
    addText(*form, "Dialogs/Preferences/DateFormat", "Recording/DateFormat");
    addText(*form, "Dialogs/Preferences/TimeFormat", "Recording/TimeFormat");
    auto* reference = makeChild<HyperlinkLabel>(*page, text("Dialogs/Preferences/FormatReference"),
                                                HyperlinkLabel::kDefaultColour);
    reference->setObjectName(QStringLiteral("FormatReference"));
    reference->setTarget(QString::fromLatin1(kFormatReference));
    form->addRow(QString(), reference);
    layout->addStretch();
    return page;
}

QWidget* PreferencesDialog::recording2Page() {
    auto* page = makeChild<QWidget>(*this);
    auto* layout = makeLayout<QVBoxLayout>(*page);
    addCheck(*layout, "Dialogs/Preferences/LameEncodeOgg", "Recording/LameEncodeOgg");
    addCheck(*layout, "Dialogs/Preferences/LameContinuous", "Recording/LameContinuous");
    auto* form = makeNestedLayout<QFormLayout>(*layout);
    // The field keeps what was typed; the store gets a rate the encoder has.
    addNumber(*form, "Dialogs/Preferences/LameBitrate", "Recording/LameBitrate", same,
              preferences::snapLameBitrate);
    for (const char* key : {"Dialogs/Preferences/LameEncodeOggNote", "Dialogs/Preferences/LameContinuousNote"}) {
        auto* note = makeChild<QLabel>(*page, text(key));
        note->setTextFormat(Qt::PlainText);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    layout->addStretch();
    return page;
}

QWidget* PreferencesDialog::devicesPage() {
    auto* page = makeChild<QWidget>(*this);
    auto* layout = makeLayout<QVBoxLayout>(*page);
    auto* form = makeNestedLayout<QFormLayout>(*layout);
    addNumber(*form, "Dialogs/Preferences/BufferSize", "Sound/BufferSize");
    addNumber(*form, "Dialogs/Preferences/HlsBandwidth", "Sound/HlsBandwidth");

    auto* list = makeChild<QListWidget>(*page);
    list->setObjectName(QStringLiteral("Sound/PlayOnDevices"));
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    const std::vector<int> chosen = OutputChannel::parseDeviceList(edited_.getString("Sound/PlayOnDevices"));
    const auto add = [list, &chosen](int number, const QString& name) {
        list->addItem(QStringLiteral("%1  %2").arg(number).arg(name));
        QListWidgetItem* added = list->item(list->count() - 1);
        added->setData(Qt::UserRole, number);
        added->setSelected(std::find(chosen.begin(), chosen.end(), number) != chosen.end());
    };
    for (const OutputDevice& device : devices_) {
        add(device.number, fromUtf8(device.name));
    }
    // A chosen device that is not here now (unplugged) stays chosen.
    for (const int number : chosen) {
        const bool listed = std::any_of(devices_.begin(), devices_.end(),
                                        [number](const OutputDevice& d) { return d.number == number; });
        if (!listed) {
            add(number, QString());
        }
    }
    connect(list, &QListWidget::itemSelectionChanged, this, [this, list] { storeDevices(*list); });
    form->addRow(text("Dialogs/Preferences/PlayOnDevices"), list);

    addCheck(*layout, "Dialogs/Preferences/Levelling", Leveller::kLevellingKey);
    auto* levelling = makeNestedLayout<QFormLayout>(*layout);
    QLineEdit* target = addNumber(*levelling, "Dialogs/Preferences/LevellingTarget", Leveller::kTargetKey, same,
                                  [](int lufs) { return std::clamp(lufs, Leveller::kMinTargetLufs, Leveller::kMaxTargetLufs); });
    target->setAccessibleName(text("Dialogs/Preferences/LevellingTarget").remove(QLatin1Char(':')).trimmed());
    return page;
}

void PreferencesDialog::storeDevices(const QListWidget& list) {
    std::vector<int> numbers;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->isSelected()) {
            numbers.push_back(list.item(row)->data(Qt::UserRole).toInt());
        }
    }
    edited_.setString("Sound/PlayOnDevices", preferences::deviceListText(numbers));
    changed();
}

void PreferencesDialog::chooseIcon(QLineEdit& field) {
    const QString file = QFileDialog::getOpenFileName(
        this, text("Dialogs/Preferences/IconFile").remove(QLatin1Char(':')), QString::fromStdString(programFolder()),
        text("Dialogs/Preferences/IconFilter") + QStringLiteral(" (*.ico *.png *.svg)"));
    if (!file.isEmpty()) {
        field.setText(QString::fromStdString(programRelativePath(file.toStdString())));
    }
}

void PreferencesDialog::chooseLanguage(QComboBox& chooser) {
    const QString file = QFileDialog::getOpenFileName(
        this, text("Dialogs/Preferences/Language").remove(QLatin1Char(':')),
        QString::fromStdString(resolveProgramPath("languages")),
        text("Dialogs/Preferences/LanguageFilter") + QStringLiteral(" (lang.*.xml)"));
    if (file.isEmpty()) {
        return;
    }
    const QString stored = QString::fromStdString(programRelativePath(file.toStdString()));
    int index = chooser.findData(stored);
    if (index < 0) {
        chooser.addItem(stored, stored);
        index = chooser.count() - 1;
    }
    chooser.setCurrentIndex(index);
}

void PreferencesDialog::chooseRecordingFolder(QLineEdit& field) {
    FolderPicker picker(text("Dialogs/Preferences/SelectFolder"),
                        QString::fromStdString(resolveProgramPath(field.text().toStdString())), this,
                        FolderPicker::kFileSystemOnly);
    if (picker.run() == FolderPicker::Chosen) {
        field.setText(picker.chosenPath());
    }
}

}  // namespace korvanel
