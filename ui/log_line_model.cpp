#include "ui/log_line_model.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace korvanel {

namespace {

struct KindColours {
    QRgb text;
    QRgb background;
};

constexpr std::array<KindColours, LogLineModel::kKindCount> kColours{{
    {0x303030, 0xffffff},  // normal
    {0xc03030, 0xffffff},  // error
    {0x402020, 0xf4e6b5},  // track title
    {0x702020, 0xefb537},  // playback start
}};

const KindColours& coloursOf(int kind) {
    return kColours[static_cast<std::size_t>(LogLineModel::isKind(kind) ? kind : 0)];
}

}  // namespace

LogLineModel::LogLineModel(qsizetype maxLines, QObject* parent)
    : QAbstractListModel(parent), maxLines_(std::max<qsizetype>(maxLines, 1)) {}

QColor LogLineModel::textColour(int kind) { return QColor::fromRgb(coloursOf(kind).text); }

QColor LogLineModel::backgroundColour(int kind) {
    return QColor::fromRgb(coloursOf(kind).background);
}

int LogLineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogLineModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const LogLine& line = lines_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole:
            return line.text;
        case Qt::ForegroundRole:
            return textColour(line.kind);
        case Qt::BackgroundRole:
            return backgroundColour(line.kind);
        case kKindRole:
            return line.kind;
        default:
            return {};
    }
}

void LogLineModel::append(std::deque<LogLine> lines) {
    if (lines.empty()) {
        return;
    }
    const auto cap = static_cast<std::size_t>(maxLines_);
    auto first = lines.begin();
    if (lines.size() > cap) {
        first += static_cast<std::ptrdiff_t>(lines.size() - cap);
    }
    const auto incoming = static_cast<std::size_t>(std::distance(first, lines.end()));
    const std::size_t excess = lines_.size() + incoming > cap ? lines_.size() + incoming - cap : 0;
    if (excess > 0) {
        beginRemoveRows({}, 0, static_cast<int>(excess) - 1);
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(excess));
        endRemoveRows();
    }
    const int start = static_cast<int>(lines_.size());
    beginInsertRows({}, start, start + static_cast<int>(incoming) - 1);
    lines_.insert(lines_.end(), std::make_move_iterator(first),
                  std::make_move_iterator(lines.end()));
    endInsertRows();
}

void LogLineModel::clear() {
    if (lines_.empty()) {
        return;
    }
    beginResetModel();
    lines_.clear();
    endResetModel();
}

}  // namespace korvanel
