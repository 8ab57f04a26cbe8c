#include "ui/text_drop.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace korvanel {
namespace {

constexpr qsizetype kLimit = 128;

// Data as another program's drop delivers it: the bytes as sent, where an
// in-process QMimeData would parse and rewrite a URL list.
class ForeignMimeData : public QMimeData {
public:
    ForeignMimeData(const char* format, QByteArray bytes)
        : format_(QString::fromUtf8(format)), bytes_(std::move(bytes)) {}
    QStringList formats() const override { return {format_}; }
    bool hasFormat(const QString& format) const override { return format == format_; }

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        if (format != format_) {
            return {};
        }
        return type.id() == QMetaType::QString ? QVariant(QString::fromUtf8(bytes_))
                                               : QVariant(bytes_);
    }

private:
    QString format_;
    QByteArray bytes_;
};

std::unique_ptr<QMimeData> mime(const char* format, const QByteArray& bytes) {
    return std::make_unique<ForeignMimeData>(format, bytes);
}

// A literal's bytes, NULs included.
template <std::size_t N>
QByteArray bytesOf(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

std::optional<QString> uriDrop(const QByteArray& list) {
    return droppedText(*mime("text/uri-list", list), kLimit);
}

std::optional<QString> textDrop(const QByteArray& text, qsizetype limit = kLimit) {
    return droppedText(*mime("text/plain", text), limit);
}

TEST(TextDrop, UriListGivesItsFirstEntryAsAPathOrAStreamAddress) {
    EXPECT_EQ(
        uriDrop("# from a file manager\r\nfile:///home/me/My%20Radio/list.pls\r\nhttp://b/\r\n"),
        QStringLiteral("/home/me/My Radio/list.pls"));
    EXPECT_EQ(uriDrop("http://radio.example:8000/live?id=1%202\r\n"),
              QStringLiteral("http://radio.example:8000/live?id=1%202"));
    EXPECT_EQ(uriDrop("mms://wm.example/stream"), QStringLiteral("mms://wm.example/stream"));
    EXPECT_EQ(uriDrop("rtsp://cam.example/s"), QStringLiteral("rtsp://cam.example/s"));
    EXPECT_EQ(uriDrop("javascript:alert(1)\r\n"), std::nullopt);
    EXPECT_EQ(uriDrop("ftp://host/file.mp3\r\n"), std::nullopt);
    EXPECT_EQ(uriDrop("http://bad host/\r\n"), std::nullopt);

    // The same through Qt's own drag data, which parses the list itself.
    QMimeData local;
    local.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a b.m3u"))});
    EXPECT_EQ(droppedText(local, kLimit), QStringLiteral("/tmp/a b.m3u"));
}

TEST(TextDrop, PlainTextIsItsFirstTrimmedLineUpToANul) {
    EXPECT_EQ(textDrop("  http://radio.example/a.m3u \r\nHost: evil\r\n"),
              QStringLiteral("http://radio.example/a.m3u"));
    EXPECT_EQ(textDrop(bytesOf("http://a/b\0\xff\xfe binary")),
              QStringLiteral("http://a/b"));
    EXPECT_EQ(textDrop(bytesOf("\0http://a/")), QString());
}

TEST(TextDrop, EmptyDropsGiveEmptyTextAndForeignDataNothing) {
    EXPECT_EQ(textDrop(""), QString());
    EXPECT_EQ(uriDrop("# nothing but a comment\r\n"), std::nullopt);
    const auto image = mime("image/png", "\x89PNG");
    EXPECT_FALSE(acceptsDrop(*image));
    EXPECT_EQ(droppedText(*image, kLimit), std::nullopt);
    EXPECT_TRUE(acceptsDrop(*mime("text/uri-list", "http://a/")));
}

TEST(TextDrop, DataOverTheLimitIsRefused) {
    const QByteArray exact(kLimit, 'a');
    EXPECT_EQ(textDrop(exact), QString::fromUtf8(exact));
    EXPECT_EQ(textDrop(exact + 'a'), std::nullopt);
    // Fewer characters than the limit, but more bytes.
    EXPECT_EQ(textDrop(QString(50, u'€').toUtf8()), std::nullopt);
    EXPECT_EQ(uriDrop("http://a/" + QByteArray(kLimit, 'b')), std::nullopt);
    EXPECT_EQ(textDrop("x", 0), std::nullopt);
}

}  // namespace
}  // namespace korvanel
