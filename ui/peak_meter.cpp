#include "ui/peak_meter.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/qt_ownership.h"

namespace korvanel {

namespace {

// A late timer catches up on at most this many ticks; by then any level has
// fallen below one row anyway.
constexpr double kMaxCatchUpTicks = 100.0;
// Levels below this are silence; keeps the decay out of denormal numbers.
constexpr double kSilence = 1e-9;

double channelLevel(std::uint32_t packed, int shift) {
    return std::min(1.0, static_cast<double>((packed >> shift) & 0xffffu) / PeakMeter::kFullScale);
}

}  // namespace

PeakMeter::PeakMeter(QWidget* parent)
    : QWidget(parent), picture_(kWidthPx, kHeightPx, QImage::Format_RGB32), timer_(makeChild<QTimer>(*this)) {
    setFixedSize(kWidthPx, kHeightPx);
    // Every pixel comes from picture_, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this,
            [this] { advance(static_cast<double>(sinceTick_.restart()) / kTickMs); });
    rebuildRowColours();
    redraw(true);
}

void PeakMeter::setColours(QColor top, QColor bottom, QColor background) {
    top_ = top;
    bottom_ = bottom;
    background_ = background;
    rebuildRowColours();
    redraw(true);
}

void PeakMeter::setLevelSource(LevelSource source) { levelSource_ = std::move(source); }

void PeakMeter::setVolumeSource(VolumeSource source) { volumeSource_ = std::move(source); }

void PeakMeter::setAdjustByVolume(bool adjust) { adjustByVolume_ = adjust; }

void PeakMeter::setActive(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    levels_ = {};
    redraw(true);
    updateTimer();
}

void PeakMeter::tick() { advance(1.0); }

void PeakMeter::advance(double ticks) {
    if (!active_) {
        return;
    }
    const std::uint32_t packed = levelSource_ ? levelSource_() : 0;
    std::array<double, 2> incoming{channelLevel(packed, 0), channelLevel(packed, 16)};
    if (adjustByVolume_) {
        const double volume = volumeSource_ ? volumeSource_() : 1.0;
        // NaN fails every comparison and ends up as 0.
        const double factor = volume > 0.0 ? std::min(volume, 1.0) : 0.0;
        for (double& level : incoming) {
            level *= factor;
        }
    }
    const double keep = std::pow(kDecayPerTick, std::clamp(ticks, 0.0, kMaxCatchUpTicks));
    for (std::size_t channel = 0; channel < levels_.size(); ++channel) {
        double& stored = levels_[channel];
        const double level = incoming[channel];
        stored = level > stored ? level : (1.0 - keep) * level + keep * stored;
        if (stored < kSilence) {
            stored = 0.0;
        }
    }
    redraw(false);
}

void PeakMeter::updateTimer() {
    if (active_ && shown_) {
        if (!timer_->isActive()) {
            sinceTick_.start();
            timer_->start();
        }
    } else {
        timer_->stop();
    }
}

void PeakMeter::rebuildRowColours() {
    // Row y (from the top) mixes bottom into top by (h - y) / h; done in
    // integers so that equal colours stay exactly equal.
    const auto mix = [](int bottom, int top, int weight) {
        return (bottom * (kHeightPx - weight) + top * weight) / kHeightPx;
    };
    for (int y = 0; y < kHeightPx; ++y) {
        const int weight = kHeightPx - y;
        rowColours_[static_cast<std::size_t>(y)] =
            qRgb(mix(bottom_.red(), top_.red(), weight), mix(bottom_.green(), top_.green(), weight),
                 mix(bottom_.blue(), top_.blue(), weight));
    }
}

QRect PeakMeter::barRect(int channel) const {
    // One blank column between the bars.
    constexpr int kHalf = kWidthPx / 2;
    return channel == 0 ? QRect(0, 0, kHalf, kHeightPx)
                        : QRect(kHalf + 1, 0, kWidthPx - kHalf - 1, kHeightPx);
}

void PeakMeter::redraw(bool everything) {
    const QRgb background = background_.rgb();
    if (everything) {
        picture_.fill(background);
    }
    for (int channel = 0; channel < 2; ++channel) {
        const auto index = static_cast<std::size_t>(channel);
        // Whole rows only: a level below one row paints nothing.
        const int rows = active_ ? static_cast<int>(kHeightPx * levels_[index]) : 0;
        if (!everything && rows == barRows_[index]) {
            continue;
        }
        barRows_[index] = rows;
        const QRect bar = barRect(channel);
        for (int y = 0; y < kHeightPx; ++y) {
            const QRgb colour =
                y >= kHeightPx - rows ? rowColours_[static_cast<std::size_t>(y)] : background;
            auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
            std::fill(line + bar.left(), line + bar.right() + 1, colour);
        }
        if (!everything) {
            update(bar);
        }
    }
    if (everything) {
        update();
    }
}

void PeakMeter::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Stopped or switched off, the meter shows the window's own background.
    if (!active_) {
        painter.fillRect(event->rect(), palette().window());
        return;
    }
    painter.drawImage(event->rect(), picture_, event->rect());
}

void PeakMeter::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shown_ = true;
    updateTimer();
}

void PeakMeter::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    shown_ = false;
    updateTimer();
}

}  // namespace korvanel
