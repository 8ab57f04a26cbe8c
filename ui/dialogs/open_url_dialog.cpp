#include "ui/dialogs/open_url_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/settings_store.h"
#include "ui/qt_ownership.h"

namespace korvanel {

OpenUrlDialog::OpenUrlDialog(const SettingsStore& language, const QString& prefill, QWidget* parent)
    : QDialog(parent), edit_(makeChild<QLineEdit>(*this)) {
    const auto text = [&](const char* key) { return QString::fromStdString(language.getString(key)); };
    setWindowTitle(text("Dialogs/OpenUrl/Caption"));
    // No stream address comes near this; a pasted book is cut.
    edit_->setMaxLength(kMaxAddressChars);
    edit_->setText(prefill);
    edit_->setAccessibleName(text("Dialogs/OpenUrl/Caption"));
    auto* buttons = makeChild<QDialogButtonBox>(*this);
    QPushButton* ok = buttons->addButton(text("Dialogs/Buttons/OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(text("Dialogs/Buttons/Cancel"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = makeLayout<QVBoxLayout>(*this);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    // Wide enough for an ordinary address at any font size.
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}

}  // namespace korvanel
