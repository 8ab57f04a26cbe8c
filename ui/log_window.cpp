#include "ui/log_window.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QTime>
#include <QWindow>

#include <algorithm>
#include <utility>

#include "ui/qt_ownership.h"

namespace korvanel {

namespace {

constexpr int kRowHeightPx = 16;
constexpr int kTextIndentPx = 2;

// Paints each line in its kind's colours across the full row, one line of
// text; selection and focus are never shown, the list has neither.
class LogLineDelegate final : public QAbstractItemDelegate {
public:
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int kind = index.data(LogLineModel::kKindRole).toInt();
        painter->save();
        painter->fillRect(option.rect, LogLineModel::backgroundColour(kind));
        painter->setPen(LogLineModel::textColour(kind));
        painter->setFont(option.font);
        painter->drawText(option.rect.adjusted(kTextIndentPx, 0, 0, 0),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        // Taller only where a large font would not fit.
        return {1, std::max(kRowHeightPx, option.fontMetrics.height())};
    }
};

QString timeStamp() { return QTime::currentTime().toString(u"HH:mm:ss") + QStringLiteral(" :: "); }

// One line of text at most kMaxMessageBytes of UTF-8, cut before a character
// that would not fit. Line breaks and other control characters become blanks,
// so that a saved log keeps one entry per line.
QString boundedMessage(const QString& message) {
    // Every UTF-16 unit takes at least one byte, so this many are enough.
    QString text = message.left(LogWindow::kMaxMessageBytes);
    if (text.size() < message.size() && !text.isEmpty() && text.back().isHighSurrogate()) {
        text.chop(1);
    }
    for (QChar& character : text) {
        const char16_t code = character.unicode();
        if (code < 0x20 || code == 0x7f || code == 0x2028 || code == 0x2029) {
            character = u' ';
        }
    }
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= LogWindow::kMaxMessageBytes) {
        return text;
    }
    qsizetype end = LogWindow::kMaxMessageBytes;
    // Back up over continuation bytes to the start of the character cut.
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xc0) == 0x80) {
        --end;
    }
    utf8.truncate(end);
    return QString::fromUtf8(utf8);
}

}  // namespace

LogWindow::LogWindow(QWidget* owner)
    : QWidget(owner, Qt::Window),
      list_(makeChild<QListView>(*this)),
      // The list's model and painter end with the list, after it let go of them.
      model_(makeChild<LogLineModel>(*list_, kMaxLines)),
      delegate_(makeChild<LogLineDelegate>(*list_)),
      menu_(makeChild<QMenu>(*this)),
      onTopAction_(makeChild<QAction>(*this, texts_.alwaysOnTop)),
      clearAction_(makeChild<QAction>(*this, texts_.clear)),
      saveAction_(makeChild<QAction>(*this, texts_.save)),
      closeAction_(makeChild<QAction>(*this, texts_.close)),
      flushTimer_(makeChild<QTimer>(*this)) {
    setWindowTitle(texts_.caption);
    resize(kDefaultSize);

    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    list_->setUniformItemSizes(true);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->viewport()->installEventFilter(this);

    onTopAction_->setCheckable(true);
    connect(onTopAction_, &QAction::triggered, this, &LogWindow::setOnTop);
    connect(clearAction_, &QAction::triggered, this, &LogWindow::clear);
    connect(saveAction_, &QAction::triggered, this, &LogWindow::saveWithDialog);
    connect(closeAction_, &QAction::triggered, this, &LogWindow::hideLog);
    menu_->addAction(onTopAction_);
    menu_->addAction(clearAction_);
    menu_->addAction(saveAction_);
    menu_->addSeparator();
    menu_->addAction(closeAction_);

    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushDelayMs);
    connect(flushTimer_, &QTimer::timeout, this, &LogWindow::flushPendingLines);
}

void LogWindow::setTexts(const Texts& texts) {
    texts_ = texts;
    setWindowTitle(texts_.caption);
    onTopAction_->setText(texts_.alwaysOnTop);
    clearAction_->setText(texts_.clear);
    saveAction_->setText(texts_.save);
    closeAction_->setText(texts_.close);
}

LogWindow::~LogWindow() {
    // The list sends its viewport events while it is torn down.
    list_->viewport()->removeEventFilter(this);
}

void LogWindow::setLineKind(int kind) {
    if (LogLineModel::isKind(kind)) {
        std::lock_guard lock(pendingMutex_);
        currentKind_ = kind;
    }
}

void LogWindow::addLine(const QString& message) { queue(-1, message); }

void LogWindow::addLine(int kind, const QString& message) { queue(kind, message); }

void LogWindow::queue(int kind, const QString& message) {
    LogLine line{timeStamp() + boundedMessage(message), kind};
    bool requestFlush = false;
    {
        std::lock_guard lock(pendingMutex_);
        if (!LogLineModel::isKind(line.kind)) {
            line.kind = currentKind_;
        }
        // Lines beyond the cap would be dropped by the list anyway.
        if (std::cmp_greater_equal(pending_.size(), kMaxLines)) {
            pending_.pop_front();
        }
        pending_.push_back(std::move(line));
        requestFlush = !std::exchange(flushRequested_, true);
    }
    if (requestFlush) {
        // Timers start on the GUI thread only; the batch gathers meanwhile.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!flushTimer_->isActive()) {
                    flushTimer_->start();
                }
            },
            Qt::QueuedConnection);
    }
}

void LogWindow::flushPendingLines() {
    std::deque<LogLine> batch;
    {
        std::lock_guard lock(pendingMutex_);
        batch.swap(pending_);
        flushRequested_ = false;
    }
    if (batch.empty()) {
        return;
    }
    model_->append(std::move(batch));
    if (visible_) {
        scrollToNewest();
    }
}

QStringList LogWindow::lines() const {
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(model_->lines().size()));
    for (const LogLine& line : model_->lines()) {
        texts.push_back(line.text);
    }
    return texts;
}

void LogWindow::showLog() {
    const bool changed = !visible_;
    visible_ = true;
    flushPendingLines();
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    raise();
    activateWindow();
    scrollToNewest();
    if (changed) {
        Q_EMIT visibilityChanged(true);
    }
}

void LogWindow::hideLog() {
    const bool changed = visible_;
    visible_ = false;
    hide();
    if (changed) {
        Q_EMIT visibilityChanged(false);
    }
}

void LogWindow::clear() {
    {
        std::lock_guard lock(pendingMutex_);
        pending_.clear();
    }
    model_->clear();
}

void LogWindow::scrollToNewest() { list_->scrollToBottom(); }

void LogWindow::setOnTop(bool onTop) {
    onTop_ = onTop;
    onTopAction_->setChecked(onTop);
    if (onTop == windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        return;
    }
    // Changing the flags recreates the window hidden and may forget where
    // it was; put it back as it was.
    const bool wasShown = isVisible();
    const bool wasPlaced = testAttribute(Qt::WA_Moved);
    const QPoint framePosition = pos();
    const QSize clientSize = size();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasPlaced) {
        move(framePosition);
    }
    resize(clientSize);
    if (wasShown) {
        show();
    }
}

void LogWindow::setPlacement(int x, int y, int width, int height) {
    if (width > 0 && height > 0) {
        // A stored size larger than the screen (a damaged settings file)
        // must not make a window too large to draw.
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        QSize wanted(width, height);
        if (screen) {
            wanted = wanted.boundedTo(screen->availableGeometry().size());
        }
        resize(wanted);
        recordedSize_ = size();
    }
    if (x == kNoPosition || y == kNoPosition) {
        return;
    }
    // A screen unplugged since the position was stored would leave the
    // window out of reach.
    const QRect placed(QPoint(x, y), size());
    const auto screens = QGuiApplication::screens();
    const bool onAScreen = std::any_of(screens.begin(), screens.end(), [&](const QScreen* screen) {
        return screen->availableGeometry().intersects(placed);
    });
    if (onAScreen) {
        move(x, y);
        recordedPosition_ = QPoint(x, y);
    }
}

bool LogWindow::isNormalState() const {
    return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void LogWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Only normal placements are kept, so a restart never comes back
    // minimised off-screen or maximised as a huge ordinary window.
    const QPoint position = pos();
    if (isNormalState() && position.x() != kNoPosition && position.y() != kNoPosition) {
        recordedPosition_ = position;
    }
}

void LogWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    list_->setGeometry(rect());
    if (isNormalState()) {
        recordedSize_ = size();
    }
}

void LogWindow::closeEvent(QCloseEvent* event) {
    // Closing only hides: the window lives as long as its owner, and closing
    // it must never count as the program's last window closing.
    event->ignore();
    hideLog();
}

void LogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hideLog();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LogWindow::contextMenuEvent(QContextMenuEvent* event) { showContextMenu(event->globalPos()); }

void LogWindow::showContextMenu(const QPoint& globalPosition) {
    onTopAction_->setChecked(onTop_);
    menu_->popup(globalPosition);
}

bool LogWindow::saveTo(const QString& path) {
    flushPendingLines();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    for (const LogLine& line : model_->lines()) {
        QByteArray bytes = line.text.toUtf8();
        bytes.append('\n');
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            return false;
        }
    }
    return file.commit();
}

void LogWindow::saveWithDialog() {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(texts_.textFiles + QStringLiteral(" (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog.selectedFiles().constFirst();
    if (!saveTo(path)) {
        Q_EMIT saveFailed(path);
    }
}

bool LogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                return dragPress(*static_cast<QMouseEvent*>(event));
            case QEvent::MouseMove:
                return dragMove(*static_cast<QMouseEvent*>(event));
            case QEvent::MouseButtonRelease:
                return dragRelease(*static_cast<QMouseEvent*>(event));
            case QEvent::MouseButtonDblClick:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                    toggleMaximised();
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool LogWindow::dragPress(const QMouseEvent& event) {
    if (event.button() != Qt::LeftButton) {
        return false;
    }
    pressed_ = true;
    dragging_ = false;
    pressGlobal_ = event.globalPosition().toPoint();
    pressFramePosition_ = pos();
    return true;
}

bool LogWindow::dragMove(const QMouseEvent& event) {
    if (!pressed_) {
        return false;
    }
    const QPoint travel = event.globalPosition().toPoint() - pressGlobal_;
    if (!dragging_) {
        // A drag only past the usual distance, so that clicks and double
        // clicks stay clicks.
        if (travel.manhattanLength() < QApplication::startDragDistance() || !isNormalState()) {
            return true;
        }
        // The window system moves the window itself where it can (the only
        // way on Wayland); the rest of the drag is then not ours.
        if (QWindow* window = windowHandle(); window && window->startSystemMove()) {
            pressed_ = false;
            return true;
        }
        dragging_ = true;
    }
    move(pressFramePosition_ + travel);
    return true;
}

bool LogWindow::dragRelease(const QMouseEvent& event) {
    if (event.button() != Qt::LeftButton) {
        return false;
    }
    pressed_ = false;
    dragging_ = false;
    return true;
}

void LogWindow::toggleMaximised() {
    pressed_ = false;
    if (isMaximized()) {
        showNormal();
    } else {
        showMaximized();
    }
}

}  // namespace korvanel
