#include "ui/single_instance.h"

#include <QDBusMessage>
#include <QFileInfo>

#include <cstdint>

namespace korvanel {
namespace {

constexpr int kHandOverTimeoutMs = 5000;

// FNV-1a, so the name stays the same from one build to the next.
std::uint64_t folderHash(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    return hash;
}

}  // namespace

QString SingleInstance::serviceName(const std::string& programFolder) {
    return QStringLiteral("org.korvanel.Korvanel.f%1").arg(folderHash(programFolder), 16, 16, QLatin1Char('0'));
}

bool SingleInstance::claim(QDBusConnection bus, const QString& name) {
    return !bus.isConnected() || bus.registerService(name);
}

bool SingleInstance::handOver(QDBusConnection bus, const QString& name, const QString& source) {
    if (!bus.isConnected() || source.size() > kMaxSourceLength) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(name, QString::fromLatin1(kObjectPath),
                                                       QStringLiteral("org.korvanel.Korvanel"), QStringLiteral("Open"));
    call << source;
    return bus.call(call, QDBus::Block, kHandOverTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

QString SingleInstance::sourceOf(const QString& argument) {
    const QFileInfo file(argument);
    return !argument.contains(QStringLiteral("://")) && file.exists() ? file.absoluteFilePath() : argument;
}

SingleInstance::SingleInstance(QDBusConnection bus, Opener open) : bus_(std::move(bus)), open_(std::move(open)) {
    registered_ = bus_.isConnected() &&
                  bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAllSlots);
}

SingleInstance::~SingleInstance() {
    if (registered_) {
        bus_.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

void SingleInstance::Open(const QString& source) {
    if (source.size() <= kMaxSourceLength) {
        open_(source);
    }
}

}  // namespace korvanel
