#include "ui/dialogs/station_list_file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

#include <array>
#include <utility>

#include "settings/settings_store.h"

namespace korvanel {

StationListFileDialog::StationListFileDialog(const SettingsStore& language, QWidget& owner)
    : language_(language), owner_(owner) {}

QString StationListFileDialog::text(const char* key) const {
    return QString::fromStdString(language_.getString(key));
}

std::optional<QString> StationListFileDialog::chooseListToImport() {
    QFileDialog dialog(&owner_, text("Dialogs/Transfer/ImportCaption"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({text("Dialogs/Transfer/ListFiles"), text("Dialogs/Transfer/AllFiles")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

std::optional<StationListFileDialog::ExportChoice> StationListFileDialog::chooseExportFile() {
    const std::array<std::pair<QString, ExportFormat>, 3> forms = {{
        {text("Dialogs/Transfer/M3uFiles"), ExportFormat::M3u},
        {text("Dialogs/Transfer/PlsFiles"), ExportFormat::Pls},
        {text("Dialogs/Transfer/XspfFiles"), ExportFormat::Xspf},
    }};
    static constexpr std::array<const char*, 3> kSuffixes = {"m3u", "pls", "xspf"};
    QFileDialog dialog(&owner_, text("Dialogs/Transfer/ExportCaption"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({forms[0].first, forms[1].first, forms[2].first});
    dialog.setDefaultSuffix(QLatin1String(kSuffixes[0]));
    // The suffix follows the form the user picks.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        for (std::size_t i = 0; i < forms.size(); ++i) {
            if (forms[i].first == filter) {
                dialog.setDefaultSuffix(QLatin1String(kSuffixes[i]));
            }
        }
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    ExportChoice choice{dialog.selectedFiles().constFirst(), ExportFormat::M3u};
    for (const auto& [filter, format] : forms) {
        if (filter == dialog.selectedNameFilter()) {
            choice.format = format;
        }
    }
    // A name typed with a list's extension is that list, whatever the filter.
    if (const std::optional<ExportFormat> named = exportFormatNamed(QFileInfo(choice.file).suffix().toStdString())) {
        choice.format = *named;
    }
    return choice;
}

}  // namespace korvanel
