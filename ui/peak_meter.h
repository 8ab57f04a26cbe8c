#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

namespace korvanel {

// The stereo level bars beside the display: a fixed 21 x 138 pixel widget.
// While active and shown it polls its level source every kTickMs; a level
// rises at once and falls by kDecayPerTick per tick (scaled by the time that
// really passed, so a late timer does not slow the fall). Inactive, it shows
// only the background colour and runs no timer. GUI thread only; the sources
// are called on the GUI thread.
class PeakMeter : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidthPx = 21;
    static constexpr int kHeightPx = 138;
    static constexpr int kTickMs = 15;
    static constexpr double kDecayPerTick = 0.8;
    // A channel's full scale in the packed level.
    static constexpr double kFullScale = 32768.0;

    // Low 16 bits the left channel, high 16 bits the right.
    using LevelSource = std::function<std::uint32_t()>;
    // The output volume, 0 to 1.
    using VolumeSource = std::function<double()>;

    explicit PeakMeter(QWidget* parent = nullptr);

    // top: a full-scale bar's top row; bottom: its lowest row.
    void setColours(QColor top, QColor bottom, QColor background);
    void setLevelSource(LevelSource source);
    void setVolumeSource(VolumeSource source);
    void setAdjustByVolume(bool adjust);

    // Activation starts from silence.
    void setActive(bool active);
    bool isActive() const { return active_; }
    // Whether the poll timer runs: only while active and shown.
    bool isTicking() const { return timer_->isActive(); }

    // One poll of kTickMs; does nothing while inactive.
    void tick();
    double leftLevel() const { return levels_[0]; }
    double rightLevel() const { return levels_[1]; }
    // What the meter shows, kWidthPx x kHeightPx.
    const QImage& picture() const { return picture_; }

    QSize sizeHint() const override { return {kWidthPx, kHeightPx}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void advance(double ticks);
    void updateTimer();
    void rebuildRowColours();
    // Redraws the bars whose height in whole rows changed, or everything.
    void redraw(bool everything);
    QRect barRect(int channel) const;

    QColor top_{0xf6, 0xf4, 0xd8};
    QColor bottom_{0xee, 0xaa, 0x19};
    QColor background_{0x30, 0x30, 0x30};
    std::array<QRgb, kHeightPx> rowColours_{};
    LevelSource levelSource_;
    VolumeSource volumeSource_;
    bool adjustByVolume_ = false;
    bool active_ = false;
    bool shown_ = false;
    std::array<double, 2> levels_{};
    // Rows each bar shows in picture_.
    std::array<int, 2> barRows_{};
    QImage picture_;
    QTimer* timer_;
    QElapsedTimer sinceTick_;
};

}  // namespace korvanel
