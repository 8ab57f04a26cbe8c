#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QString>

#include <deque>

namespace korvanel {

struct LogLine {
    QString text;  // time stamp and message, as saved
    int kind = 0;
};

// The log's lines for the list view, oldest first, at most maxLines of them
// (the oldest go first). Colours by kind: 0 normal, 1 error, 2 track title,
// 3 playback start. GUI thread only.
class LogLineModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr int kKindRole = Qt::UserRole + 1;
    static constexpr int kKindCount = 4;

    explicit LogLineModel(qsizetype maxLines, QObject* parent = nullptr);

    static bool isKind(int kind) { return kind >= 0 && kind < kKindCount; }
    // Text and background colour of a kind; kind 0's for any other value.
    static QColor textColour(int kind);
    static QColor backgroundColour(int kind);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void append(std::deque<LogLine> lines);
    void clear();
    const std::deque<LogLine>& lines() const { return lines_; }

private:
    qsizetype maxLines_;
    std::deque<LogLine> lines_;
};

}  // namespace korvanel
