#include "ui/hyperlink_label.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace korvanel {

HyperlinkLabel::HyperlinkLabel(QWidget* parent)
    : HyperlinkLabel(QString(), kDefaultColour, parent) {}

HyperlinkLabel::HyperlinkLabel(const QString& text, QColor colour, QWidget* parent)
    : QLabel(parent), colour_(colour.isValid() ? colour : kDefaultColour) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setCursor(Qt::PointingHandCursor);
    // Reachable from the keyboard like any other link.
    setFocusPolicy(Qt::TabFocus);
    setMaximumWidth(kMaxWidthPx);
    setText(text);
    opener_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

void HyperlinkLabel::setTarget(const QString& target) { target_ = target; }

void HyperlinkLabel::setColour(QColor colour) {
    if (colour.isValid() && colour != colour_) {
        colour_ = colour;
        update();
    }
}

void HyperlinkLabel::setOpener(Opener opener) {
    if (opener) {
        opener_ = std::move(opener);
    }
}

QUrl HyperlinkLabel::openableUrl(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > kMaxTargetChars) {
        return {};
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    // QUrl keeps schemes in lower case, so "HTTP://" passes as well.
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty()) {
        return {};
    }
    return url;
}

QUrl HyperlinkLabel::linkUrl() const { return openableUrl(target_.isEmpty() ? text() : target_); }

void HyperlinkLabel::activate() {
    setColour(kVisitedColour);
    const QUrl url = linkUrl();
    if (url.isEmpty()) {
        return;
    }
    opener_(url);
    Q_EMIT linkOpened(url);
}

QSize HyperlinkLabel::sizeHint() const {
    const QSize hint = QLabel::sizeHint();
    return {std::min(hint.width(), kMaxWidthPx), hint.height()};
}

QSize HyperlinkLabel::minimumSizeHint() const {
    const QSize hint = QLabel::minimumSizeHint();
    return {std::min(hint.width(), kMaxWidthPx), hint.height()};
}

void HyperlinkLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QFont underlined = font();
    underlined.setUnderline(true);
    painter.setFont(underlined);
    painter.setPen(colour_);
    const QRect area = contentsRect();
    const QString shown = QFontMetrics(underlined).elidedText(text(), Qt::ElideRight, area.width());
    painter.drawText(area, static_cast<int>(alignment()) | Qt::TextSingleLine, shown);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
    }
    QLabel::mousePressEvent(event);
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A press that is dragged off the label before release cancels the click.
    if (event->button() == Qt::LeftButton && pressed_) {
        pressed_ = false;
        if (rect().contains(event->position().toPoint())) {
            activate();
        }
    }
    QLabel::mouseReleaseEvent(event);
}

bool HyperlinkLabel::event(QEvent* event) {
    // The keys that open the link are the label's while it has the focus,
    // before any shortcut of the window.
    if (event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->accept();
            return true;
        }
    }
    return QLabel::event(event);
}

void HyperlinkLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            activate();
            return;
        default:
            QLabel::keyPressEvent(event);
    }
}

}  // namespace korvanel
