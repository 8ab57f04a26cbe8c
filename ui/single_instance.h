#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <string>

namespace korvanel {

// One player per program folder in a session: the first start takes a name
// on the session bus; a later one hands the address it was given (or
// nothing: show yourself) to the first and ends. Players with folders of
// their own (KORVANEL_HOME, portable copies) do not meet.
//
// Threads: the GUI thread only.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.korvanel.Korvanel")

public:
    static constexpr const char* kObjectPath = "/org/korvanel/Korvanel";
    // Longer sources are refused, from either side.
    static constexpr int kMaxSourceLength = 4096;
    using Opener = std::function<void(const QString& source)>;

    // The bus name of the players of this program folder.
    static QString serviceName(const std::string& programFolder);

    // Takes the name; false when another player of the folder has it.
    static bool claim(QDBusConnection bus, const QString& name);
    // Gives a running player the source to play; true when it took it.
    static bool handOver(QDBusConnection bus, const QString& name, const QString& source);
    // A command line argument as the running player must see it: a file
    // that exists as its absolute path, anything else as it is.
    static QString sourceOf(const QString& argument);

    // Answers handOver() on behalf of the player that claimed the name.
    SingleInstance(QDBusConnection bus, Opener open);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

public Q_SLOTS:
    // From another start: play `source`, or with an empty one, show the window.
    void Open(const QString& source);

private:
    QDBusConnection bus_;
    Opener open_;
    bool registered_ = false;
};

}  // namespace korvanel
