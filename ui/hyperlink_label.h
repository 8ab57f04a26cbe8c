#pragma once

#include <QColor>
#include <QLabel>
#include <QUrl>

#include <functional>

namespace korvanel {

// A clickable web address: underlined, hand cursor, at most kMaxWidthPx wide
// (longer text is elided), shown in its own colour until clicked and in the
// visited colour after. Text is always plain, never rich text, since it often
// comes from a station. GUI thread only.
//
// Only http:// and https:// addresses are ever opened; anything else does
// nothing. The label keeps its text as its accessible name, so an owner
// says what the address is with setAccessibleDescription().
class HyperlinkLabel : public QLabel {
    Q_OBJECT

public:
    // Hands an address to the system; the default is QDesktopServices.
    using Opener = std::function<void(const QUrl&)>;

    static constexpr int kMaxWidthPx = 285;
    static constexpr QColor kDefaultColour{0, 0, 255};
    static constexpr QColor kVisitedColour{0, 0, 255};
    // Longer targets are not addresses anyone types; they are refused.
    static constexpr qsizetype kMaxTargetChars = 4096;

    explicit HyperlinkLabel(QWidget* parent = nullptr);
    HyperlinkLabel(const QString& text, QColor colour, QWidget* parent = nullptr);

    // An empty target opens the label's own text.
    void setTarget(const QString& target);
    const QString& target() const { return target_; }

    void setColour(QColor colour);
    QColor colour() const { return colour_; }

    void setOpener(Opener opener);

    // What a click would open now; an empty QUrl when it would open nothing.
    QUrl linkUrl() const;
    // The address in text when it is an http or https address, else empty.
    static QUrl openableUrl(const QString& text);

    // Opens linkUrl() as a click does: the label turns to the visited
    // colour even when there is nothing to open.
    void activate();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // After an address was handed to the opener.
    void linkOpened(const QUrl& url);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    QString target_;
    QColor colour_ = kDefaultColour;
    Opener opener_;
    bool pressed_ = false;
};

}  // namespace korvanel
