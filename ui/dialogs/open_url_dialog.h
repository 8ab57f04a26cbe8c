#pragma once

#include <QDialog>
#include <QLineEdit>

namespace korvanel {

class SettingsStore;

// Where the user types or pastes a stream address. Enter confirms, Escape
// cancels. GUI thread only.
class OpenUrlDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxAddressChars = 4096;

    // The box starts with prefill (already checked by the caller).
    OpenUrlDialog(const SettingsStore& language, const QString& prefill, QWidget* parent = nullptr);

    QString address() const { return edit_->text(); }
    QLineEdit& edit() { return *edit_; }

private:
    QLineEdit* edit_;
};

}  // namespace korvanel
