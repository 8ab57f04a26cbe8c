#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <memory>
#include <thread>
#include <vector>

#include "stations/station_directory.h"
#include "stream/cancel_signal.h"

namespace korvanel {

class SettingsStore;
class WindowCommands;

// Finds stations in the public station directory: a search box, the
// results in a table that sorts by any column, Play and Add to Favorites.
// A search runs on a thread of the dialog's own and hands its answer back
// as a queued call, so the window never waits; Stop, a new search or
// closing the dialog cuts a slow one short. GUI thread only, apart from
// that one thread.
class FindStationDialog : public QDialog {
    Q_OBJECT

public:
    FindStationDialog(StationDirectory& directory, WindowCommands& commands, const SettingsStore& language,
                      QWidget* parent = nullptr);
    ~FindStationDialog() override;

    void search();
    // Stops a search under way; its answer is dropped.
    void stopSearch();
    bool searching() const { return searching_; }

    QLineEdit& searchBox() { return *text_; }
    QLineEdit& tagBox() { return *tag_; }
    QLineEdit& countryBox() { return *country_; }
    QTableWidget& results() { return *table_; }
    QPushButton& playButton() { return *play_; }
    QPushButton& addButton() { return *add_; }
    QLabel& status() { return *status_; }

Q_SIGNALS:
    // A search ended (results shown, or its error).
    void searchFinished();

private:
    QString text(const char* key) const;
    void show(const StationDirectory::Result& result);
    const DirectoryStation* chosen() const;
    void playChosen();
    void addChosen();
    void joinSearch();

    StationDirectory& directory_;
    WindowCommands& commands_;
    const SettingsStore& language_;
    QLineEdit* text_;
    QLineEdit* tag_;
    QLineEdit* country_;
    QPushButton* find_;
    QPushButton* stop_;
    QTableWidget* table_;
    QPushButton* play_;
    QPushButton* add_;
    QPushButton* close_;
    QLabel* status_;
    std::vector<DirectoryStation> stations_;  // in the order they came
    std::unique_ptr<CancelSignal> cancel_;
    std::thread worker_;
    bool searching_ = false;
    unsigned generation_ = 0;  // the search whose answer counts
};

}  // namespace korvanel
