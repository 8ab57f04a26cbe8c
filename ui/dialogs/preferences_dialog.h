#pragma once

#include <QDialog>
#include <QTabWidget>

#include <functional>
#include <string>
#include <vector>

#include "audio/output_devices.h"
#include "settings/settings_store.h"

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace korvanel {

// The preferences: five pages of controls over a private copy of the
// settings. Every change goes into the copy at once; Apply and OK hand the
// whole copy to the program's settings, Cancel forgets it. Each control's
// object name is the key it edits. GUI thread only.
class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kFormatReference = "https://en.cppreference.com/w/cpp/chrono/c/strftime";

    // devices: what the audio engine offers now (empty without one).
    PreferencesDialog(SettingsStore& settings, const SettingsStore& language, std::vector<OutputDevice> devices,
                      QWidget* parent = nullptr);

    const SettingsStore& edited() const { return edited_; }
    QTabWidget& pages() { return *pages_; }
    QPushButton& applyButton() { return *apply_; }

    // The shipped language files in the program folder, each by its
    // language's own name, as (name, path the setting stores).
    static std::vector<std::pair<QString, QString>> shippedLanguages();

Q_SIGNALS:
    // The settings hold the applied copy; the owner tells every component
    // and saves them. Once per Apply with changes, never without.
    void settingsApplied();

private:
    static int same(int value) { return value; }
    QString text(const char* key) const;
    void changed();
    void apply();

    QWidget* generalPage();
    QWidget* general2Page();
    QWidget* recordingPage();
    QWidget* recording2Page();
    QWidget* devicesPage();

    QCheckBox* addCheck(QBoxLayout& layout, const char* textKey, const char* key);
    // A field whose every change goes through store into the copy.
    QLineEdit* makeField(QWidget& parent, const char* key, const QString& shown,
                         std::function<void(const std::string&)> store);
    QLineEdit* addText(QFormLayout& form, const char* labelKey, const char* key);
    // A number shown as shown(stored value) and stored as stored(typed number).
    QLineEdit* addNumber(QFormLayout& form, const char* labelKey, const char* key, int (*shown)(int) = same,
                         int (*stored)(int) = same);
    // The control with a "..." button beside it, as one row of the form.
    QPushButton* addBrowseRow(QFormLayout& form, const char* labelKey, QWidget& control, const QString& browseName);
    QLineEdit* addBrowsable(QFormLayout& form, const char* labelKey, const char* key, QPushButton*& browse);
    void addColour(QBoxLayout& layout, const char* textKey, const char* key);
    void addLanguageChooser(QFormLayout& form);
    void chooseIcon(QLineEdit& field);
    void chooseLanguage(QComboBox& chooser);
    void chooseRecordingFolder(QLineEdit& field);
    void storeDevices(const QListWidget& list);

    SettingsStore& settings_;
    const SettingsStore& language_;
    SettingsStore edited_;
    std::vector<OutputDevice> devices_;
    bool changed_ = false;
    QTabWidget* pages_;
    QPushButton* apply_ = nullptr;
};

}  // namespace korvanel
