#include "ui/dialogs/folder_picker.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace korvanel {

FolderPicker::FolderPicker(QString title, QString initialFolder, QWidget* owner, int flags)
    : title_(std::move(title)),
      initial_(initialFolder.size() <= kMaxInitialChars ? std::move(initialFolder) : QString()),
      owner_(owner),
      flags_(flags) {}

int FolderPicker::run() {
    QFileDialog dialog(owner_, title_);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if ((flags_ & kFileSystemOnly) != 0) {
        dialog.setSupportedSchemes({QStringLiteral("file")});
    }
    if (!initial_.isEmpty() && QFileInfo(initial_).isDir()) {
        dialog.setDirectory(initial_);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty()) {
        return Cancelled;
    }
    const QUrl chosen = dialog.selectedUrls().constFirst();
    if (!chosen.isLocalFile() || chosen.toLocalFile().isEmpty()) {
        return NoFileSystemPath;
    }
    chosen_ = chosen.toLocalFile();
    return Chosen;
}

}  // namespace korvanel
