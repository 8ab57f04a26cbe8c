#include "ui/text_drop.h"

#include <QByteArrayView>
#include <QMimeData>
#include <QUrl>

namespace korvanel {

namespace {

QString uriListFormat() { return QStringLiteral("text/uri-list"); }
QString plainTextFormat() { return QStringLiteral("text/plain"); }
// Wayland programs may offer only this name for the same text.
QString utf8TextFormat() { return QStringLiteral("text/plain;charset=utf-8"); }

bool hasPlainText(const QMimeData& data) {
    return data.hasFormat(plainTextFormat()) || data.hasFormat(utf8TextFormat());
}

QString upToNul(QString text) {
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0) {
        text.truncate(nul);
    }
    return text;
}

// The first entry of a URL list (RFC 2483): lines end in CR LF, lines
// starting with '#' are comments.
QByteArray firstUri(const QByteArray& list) {
    qsizetype start = 0;
    while (start < list.size()) {
        qsizetype end = list.indexOf('\n', start);
        if (end < 0) {
            end = list.size();
        }
        const QByteArrayView line = QByteArrayView(list).sliced(start, end - start).trimmed();
        if (!line.isEmpty() && !line.startsWith('#')) {
            return line.toByteArray();
        }
        start = end + 1;
    }
    return {};
}

std::optional<QString> sourceOfUri(const QByteArray& uri) {
    const QUrl url = QUrl::fromEncoded(uri, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    if (url.isLocalFile()) {
        return upToNul(url.toLocalFile());
    }
    const QString scheme = url.scheme();
    if (scheme == u"http" || scheme == u"https" || scheme == u"mms" || scheme == u"rtsp") {
        return QString::fromUtf8(uri);
    }
    return std::nullopt;
}

std::optional<QString> sourceOfText(const QString& dropped, qsizetype limitBytes) {
    // Each character is at least one byte, so the size alone can refuse early.
    if (dropped.size() > limitBytes || dropped.toUtf8().size() > limitBytes) {
        return std::nullopt;
    }
    QString text = upToNul(dropped).trimmed();
    // One address: further lines would reach a request as header lines.
    for (qsizetype index = 0; index < text.size(); ++index) {
        if (text[index] == u'\n' || text[index] == u'\r') {
            text.truncate(index);
            break;
        }
    }
    return text.trimmed();
}

}  // namespace

bool acceptsDrop(const QMimeData& data) {
    return data.hasFormat(uriListFormat()) || hasPlainText(data);
}

std::optional<QString> droppedText(const QMimeData& data, qsizetype limitBytes) {
    if (data.hasFormat(uriListFormat())) {
        const QByteArray list = data.data(uriListFormat());
        if (list.size() > limitBytes) {
            return std::nullopt;
        }
        if (const QByteArray uri = firstUri(list); !uri.isEmpty()) {
            return sourceOfUri(uri);
        }
    }
    if (hasPlainText(data)) {
        return sourceOfText(data.text(), limitBytes);
    }
    return std::nullopt;
}

}  // namespace korvanel
