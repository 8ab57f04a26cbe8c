#include "ui/dialogs/find_station_dialog.h"

#include <QBoxLayout>
#include <QFormLayout>
#include <QHeaderView>

#include "base/program_path.h"
#include "frontend/menu_tree.h"
#include "frontend/play_history.h"
#include "frontend/window_commands.h"
#include "settings/language_texts.h"
#include "settings/settings_store.h"
#include "stations/favorites_editor.h"
#include "ui/qt_ownership.h"
#include "ui/window_helpers.h"

namespace korvanel {

namespace {

enum Column { kName, kCountry, kCodec, kBitrate, kPlays, kColumns };

// A cell that sorts by its number, not its text.
std::unique_ptr<QTableWidgetItem> numberItem(qlonglong value) {
    auto item = std::make_unique<QTableWidgetItem>();
    item->setData(Qt::DisplayRole, value);
    return item;
}

}  // namespace

FindStationDialog::FindStationDialog(StationDirectory& directory, WindowCommands& commands,
                                     const SettingsStore& language, QWidget* parent)
    : QDialog(parent),
      directory_(directory),
      commands_(commands),
      language_(language),
      text_(makeChild<QLineEdit>(*this)),
      tag_(makeChild<QLineEdit>(*this)),
      country_(makeChild<QLineEdit>(*this)),
      find_(makeChild<QPushButton>(*this)),
      stop_(makeChild<QPushButton>(*this)),
      table_(makeChild<QTableWidget>(*this)),
      play_(makeChild<QPushButton>(*this)),
      add_(makeChild<QPushButton>(*this)),
      close_(makeChild<QPushButton>(*this)),
      status_(makeChild<QLabel>(*this)) {
    setWindowTitle(text("Dialogs/FindStation/Caption"));
    text_->setMaxLength(200);
    tag_->setMaxLength(100);
    country_->setMaxLength(2);
    text_->setAccessibleName(text("Dialogs/FindStation/Name").remove(QLatin1Char(':')));
    find_->setText(text("Dialogs/FindStation/Search"));
    find_->setDefault(true);
    stop_->setText(text("Dialogs/FindStation/Stop"));
    stop_->setEnabled(false);
    play_->setText(text("Dialogs/FindStation/Play"));
    add_->setText(text("Main/FavoritesMenu/Add"));
    close_->setText(text("Dialogs/Buttons/Close"));
    play_->setEnabled(false);
    add_->setEnabled(false);
    status_->setTextFormat(Qt::PlainText);

    table_->setColumnCount(kColumns);
    table_->setHorizontalHeaderLabels({text("Dialogs/FindStation/ColumnName"), text("Dialogs/FindStation/ColumnCountry"),
                                      text("Dialogs/FindStation/ColumnCodec"), text("Dialogs/FindStation/ColumnBitrate"),
                                      text("Dialogs/FindStation/ColumnPlays")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSortingEnabled(true);
    table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
    table_->verticalHeader()->hide();

    auto* layout = makeLayout<QVBoxLayout>(*this);
    auto* form = makeNestedLayout<QFormLayout>(*layout);
    form->addRow(text("Dialogs/FindStation/Name"), text_);
    form->addRow(text("Dialogs/FindStation/Tag"), tag_);
    form->addRow(text("Dialogs/FindStation/Country"), country_);
    auto* searchRow = makeNestedLayout<QHBoxLayout>(*layout);
    searchRow->addWidget(find_);
    searchRow->addWidget(stop_);
    searchRow->addWidget(status_, 1);
    layout->addWidget(table_, 1);
    auto* buttons = makeNestedLayout<QHBoxLayout>(*layout);
    buttons->addWidget(play_);
    buttons->addWidget(add_);
    buttons->addStretch();
    buttons->addWidget(close_);
    resize(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 30);

    connect(find_, &QPushButton::clicked, this, &FindStationDialog::search);
    connect(stop_, &QPushButton::clicked, this, &FindStationDialog::stopSearch);
    connect(play_, &QPushButton::clicked, this, &FindStationDialog::playChosen);
    connect(add_, &QPushButton::clicked, this, &FindStationDialog::addChosen);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        play_->setEnabled(chosen() != nullptr);
        add_->setEnabled(chosen() != nullptr);
    });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { playChosen(); });
}

FindStationDialog::~FindStationDialog() {
    stopSearch();
    joinSearch();
}

QString FindStationDialog::text(const char* key) const { return fromUtf8(language_.getString(key)); }

void FindStationDialog::search() {
    stopSearch();
    joinSearch();
    DirectoryQuery query;
    query.text = text_->text().trimmed().toStdString();
    query.tag = tag_->text().trimmed().toStdString();
    query.country = country_->text().trimmed().toUpper().toStdString();
    cancel_ = std::make_unique<CancelSignal>();
    const int stopFd = cancel_->readFd();
    const unsigned generation = ++generation_;
    searching_ = true;
    find_->setEnabled(false);
    stop_->setEnabled(true);
    status_->setText(text("Dialogs/FindStation/Searching"));
    worker_ = std::thread([this, query, stopFd, generation] {
        StationDirectory::Result result = directory_.search(query, stopFd);
        // Back to the GUI thread; a stopped or outdated search is dropped there.
        QMetaObject::invokeMethod(
            this,
            [this, generation, result = std::move(result)] {
                if (generation == generation_ && searching_) {
                    show(result);
                }
            },
            Qt::QueuedConnection);
    });
}

void FindStationDialog::stopSearch() {
    if (cancel_) {
        cancel_->raise();
    }
    if (searching_) {
        searching_ = false;
        ++generation_;
        find_->setEnabled(true);
        stop_->setEnabled(false);
        status_->clear();
    }
}

void FindStationDialog::joinSearch() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void FindStationDialog::show(const StationDirectory::Result& result) {
    searching_ = false;
    find_->setEnabled(true);
    stop_->setEnabled(false);
    stations_ = result.stations;
    table_->setSortingEnabled(false);
    table_->clearContents();
    table_->setRowCount(static_cast<int>(stations_.size()));
    for (int row = 0; row < static_cast<int>(stations_.size()); ++row) {
        const DirectoryStation& station = stations_[static_cast<std::size_t>(row)];
        auto name = std::make_unique<QTableWidgetItem>(fromUtf8(station.name));
        name->setData(Qt::UserRole, row);  // the station behind the row, whatever the order
        table_->setItem(row, kName, name.release());
        table_->setItem(row, kCountry, std::make_unique<QTableWidgetItem>(fromUtf8(station.countryCode)).release());
        table_->setItem(row, kCodec, std::make_unique<QTableWidgetItem>(fromUtf8(station.codec)).release());
        table_->setItem(row, kBitrate, numberItem(station.bitrate).release());
        table_->setItem(row, kPlays, numberItem(station.clicks).release());
    }
    table_->setSortingEnabled(true);
    status_->setText(result.ok ? QString::fromStdString(formatText(language_.getString("Dialogs/FindStation/Found"),
                                                                  {static_cast<std::int64_t>(stations_.size())}))
                              : fromUtf8(result.error));
    Q_EMIT searchFinished();
}

const DirectoryStation* FindStationDialog::chosen() const {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    for (const QTableWidgetItem* item : selected) {
        const QTableWidgetItem* name = table_->item(item->row(), kName);
        const int index = name != nullptr ? name->data(Qt::UserRole).toInt() : -1;
        if (index >= 0 && index < static_cast<int>(stations_.size())) {
            return &stations_[static_cast<std::size_t>(index)];
        }
    }
    return nullptr;
}

void FindStationDialog::playChosen() {
    const DirectoryStation* station = chosen();
    if (station == nullptr) {
        return;
    }
    commands_.playStation(HistoryEntry{station->url, station->name, station->homepage});
    directory_.reportClick(station->uuid);
}

void FindStationDialog::addChosen() {
    const DirectoryStation* station = chosen();
    if (station == nullptr) {
        return;
    }
    const FavoriteAddResult added =
        addFavorite(resolveProgramPath("favorites.xml"), {station->name, station->homepage, {station->url}});
    const char* key = added == FavoriteAddResult::Added          ? "Log/Message/FavoriteAdded"
                      : added == FavoriteAddResult::AlreadyThere ? "Log/Message/FavoriteExists"
                                                                 : "Log/Message/FavoriteFailed";
    status_->setText(QString::fromStdString(formatText(language_.getString(key), {station->name})));
    if (added == FavoriteAddResult::Added) {
        commands_.run(command::kReloadFavorites);
    }
}

}  // namespace korvanel
