#pragma once

#include <QString>

class QWidget;

namespace korvanel {

// Lets the user choose a folder: the desktop's folder chooser, modal over
// its owner. GUI thread only.
class FolderPicker {
public:
    enum Result { Chosen = 1, NoFileSystemPath = 2, Cancelled = -1 };
    // Only folders on the file system can be chosen.
    static constexpr int kFileSystemOnly = 1;
    // Longer initial folders are not used.
    static constexpr qsizetype kMaxInitialChars = 259;

    FolderPicker(QString title, QString initialFolder, QWidget* owner, int flags);

    // Chosen with the path in chosenPath(); NoFileSystemPath for a place
    // that is not a folder on this machine; Cancelled when the user gave up.
    // In the last two cases the caller keeps its old folder.
    int run();
    const QString& chosenPath() const { return chosen_; }

private:
    QString title_;
    QString initial_;
    QWidget* owner_;
    int flags_;
    QString chosen_;
};

}  // namespace korvanel
