#include "ui/mpris/mpris_root_adaptor.h"

#include "base/product.h"
#include "ui/mpris/media_player_service.h"

namespace korvanel {

MprisRootAdaptor::MprisRootAdaptor(MediaPlayerService& service) : QDBusAbstractAdaptor(&service), service_(service) {}

QString MprisRootAdaptor::identity() const { return QString::fromUtf8(product::kName); }

QString MprisRootAdaptor::desktopEntry() const { return QStringLiteral("korvanel"); }

QStringList MprisRootAdaptor::supportedUriSchemes() const {
    return {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mms")};
}

QStringList MprisRootAdaptor::supportedMimeTypes() const {
    return {QStringLiteral("audio/x-scpls"), QStringLiteral("audio/x-mpegurl"), QStringLiteral("audio/mpegurl"),
            QStringLiteral("video/x-ms-asf")};
}

void MprisRootAdaptor::Raise() { service_.raise(); }

void MprisRootAdaptor::Quit() { service_.quit(); }

}  // namespace korvanel
