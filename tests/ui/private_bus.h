// A session bus of a test's own.
#pragma once

#include <QDBusConnection>
#include <QStringList>

#include <csignal>
#include <string>

#include "tests/support/child_process.h"

namespace korvanel::test {

using namespace std::chrono_literals;

// A dbus-daemon for one test, so nothing depends on the machine's session.
class PrivateBus {
public:
    PrivateBus()
        : daemon_("/usr/bin/dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"}) {
        if (daemon_.waitForOut("\n", 10s)) {
            address_ = daemon_.out().substr(0, daemon_.out().find('\n'));
        }
    }
    ~PrivateBus() {
        for (const QString& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon_.signal(SIGTERM);
        daemon_.waitForExit(5s);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    // A connection of its own for each name: a client and a service in one
    // test talk over the bus like two programs.
    QDBusConnection connect(const QString& name = QStringLiteral("korvanel-test-bus")) {
        names_ << name;
        return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
    }

private:
    ChildProcess daemon_;
    std::string address_;
    QStringList names_;
};

}  // namespace korvanel::test
