#pragma once

#include <QString>

#include <optional>
#include <vector>

#include "stations/station_export.h"

class QWidget;

namespace korvanel {

class SettingsStore;

// The desktop's file dialogs for moving station lists in and out: which
// list to import, and where (and as which form, by the chosen filter) to
// export the favourites. Modal over the owner; GUI thread only.
class StationListFileDialog {
public:
    struct ExportChoice {
        QString file;
        ExportFormat format = ExportFormat::M3u;
    };

    StationListFileDialog(const SettingsStore& language, QWidget& owner);

    std::optional<QString> chooseListToImport();
    // A name without an extension gets the chosen form's.
    std::optional<ExportChoice> chooseExportFile();

private:
    QString text(const char* key) const;

    const SettingsStore& language_;
    QWidget& owner_;
};

}  // namespace korvanel
