#pragma once

#include <QColor>
#include <QList>
#include <QWidget>

class QAbstractAnimation;

// Decorative bars of the listening pill: 13 bars pulsing between 4 px and their base height, each with its own
// random duration (0.3 to 0.5 s) and start delay (0 to 0.3 s), so that they move out of step. Nothing feeds the
// audio level into them.
class FakeWaveView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int barCount = 13;
    static constexpr int barWidth = 3;
    static constexpr int spacing = 3;
    static constexpr int height = 24;
    static const QList<double> &baseHeights();

    explicit FakeWaveView(QColor color, QWidget *parent = nullptr);
    ~FakeWaveView() override;

    bool isAnimating() const { return m_isAnimating; }
    // The current height of each bar.
    QList<double> barHeights() const { return m_heights; }
    // The durations and delays (ms) drawn for the running animation, one pair per bar.
    QList<std::pair<int, int>> timings() const { return m_timings; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void startAnimating();
    void stopAnimating();

    QColor m_color;
    bool m_isAnimating = false;
    QList<double> m_heights;
    QList<std::pair<int, int>> m_timings;
    QList<QAbstractAnimation *> m_animations;
};
