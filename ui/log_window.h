#pragma once

#include <QAction>
#include <QListView>
#include <QMenu>
#include <QPoint>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <mutex>

#include "ui/log_line_model.h"

namespace korvanel {

// The event log: a separate, resizable window listing time-stamped lines in
// the colours of their kind. Hidden until showLog().
//
// Threads: setLineKind() and both addLine() overloads may be called from any
// thread; the lines are queued and reach the list in call order, in batches,
// on the GUI thread. Everything else is GUI thread only. Threads that add
// lines must have stopped before the window is destroyed.
class LogWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kNormalLine = 0;
    static constexpr int kErrorLine = 1;
    static constexpr int kTrackTitleLine = 2;
    static constexpr int kPlaybackStartLine = 3;
    // A message is cut to this many bytes of UTF-8, on a character boundary.
    static constexpr qsizetype kMaxMessageBytes = 1023;
    // The oldest lines give way beyond this.
    static constexpr qsizetype kMaxLines = 10000;
    // The coordinate of a position that was never recorded; setPlacement()
    // does not move to it.
    static constexpr int kNoPosition = -32000;
    static constexpr int kFlushDelayMs = 20;
    static constexpr QSize kDefaultSize{480, 300};

    // What the window says, in the chosen language; English until told.
    struct Texts {
        QString caption = QStringLiteral("Korvanel Log");
        QString alwaysOnTop = QStringLiteral("Always On Top");
        QString clear = QStringLiteral("Clear Log");
        QString save = QStringLiteral("Save to File");
        QString close = QStringLiteral("Close Window");
        QString textFiles = QStringLiteral("Text files");
    };

    explicit LogWindow(QWidget* owner = nullptr);
    ~LogWindow() override;

    void setTexts(const Texts& texts);

    // The kind of the lines added after this by addLine(message); a value
    // that is no LogKind leaves it unchanged.
    void setLineKind(int kind);
    // Appends "HH:mm:ss :: message", stamped now, in the current kind.
    void addLine(const QString& message);
    // The same in the given kind, without changing the current one; what a
    // thread uses, since another thread may set the kind in between.
    void addLine(int kind, const QString& message);
    // Applies the queued lines now instead of at the next batch.
    void flushPendingLines();

    // The lines in the list, each as saved: time stamp and message.
    QStringList lines() const;
    const LogLineModel& model() const { return *model_; }

    // Restores, raises and activates the window and shows the newest line.
    void showLog();
    void hideLog();
    bool isLogVisible() const { return visible_; }
    void clear();

    void setOnTop(bool onTop);
    bool isOnTop() const { return onTop_; }

    // Moves unless x or y is kNoPosition; resizes unless a size is not
    // positive. A position that no screen shows is not moved to.
    void setPlacement(int x, int y, int width, int height);
    // The last normal (not minimised or maximised) frame position and size.
    QPoint recordedPosition() const { return recordedPosition_; }
    QSize recordedSize() const { return recordedSize_; }

    // Writes every line followed by "\n", in UTF-8, replacing the file.
    bool saveTo(const QString& path);
    // Asks for a file name, then saveTo().
    void saveWithDialog();

Q_SIGNALS:
    void visibilityChanged(bool visible);
    // A save chosen from the context menu did not complete.
    void saveFailed(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // A value that is no LogKind means the current kind.
    void queue(int kind, const QString& message);
    void scrollToNewest();
    void showContextMenu(const QPoint& globalPosition);
    bool isNormalState() const;
    // Window dragging; each returns whether it used the event.
    bool dragPress(const QMouseEvent& event);
    bool dragMove(const QMouseEvent& event);
    bool dragRelease(const QMouseEvent& event);
    void toggleMaximised();

    Texts texts_;  // before the actions, which start with its words
    QListView* list_;
    LogLineModel* model_;
    QAbstractItemDelegate* delegate_;
    QMenu* menu_;
    QAction* onTopAction_;
    QAction* clearAction_;
    QAction* saveAction_;
    QAction* closeAction_;
    QTimer* flushTimer_;

    std::mutex pendingMutex_;
    // Guarded by pendingMutex_.
    std::deque<LogLine> pending_;
    int currentKind_ = kNormalLine;
    bool flushRequested_ = false;

    bool visible_ = false;
    bool onTop_ = false;
    QPoint recordedPosition_{kNoPosition, kNoPosition};
    QSize recordedSize_ = kDefaultSize;

    // Set while the left button is down and the window may be dragged.
    bool pressed_ = false;
    bool dragging_ = false;
    QPoint pressGlobal_;
    QPoint pressFramePosition_;
};

}  // namespace korvanel
