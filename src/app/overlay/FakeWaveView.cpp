#include "app/overlay/FakeWaveView.h"

#include <QPainter>
#include <QPauseAnimation>
#include <QRandomGenerator>
#include <QSequentialAnimationGroup>
#include <QVariantAnimation>

namespace {
constexpr double kRestHeight = 4.0;

QVariantAnimation *heightAnimation(double from, double to, int durationMs, QObject *parent)
{
    auto *anim = new QVariantAnimation(parent);
    anim->setStartValue(from);
    anim->setEndValue(to);
    anim->setDuration(durationMs);
    anim->setEasingCurve(QEasingCurve::InOutQuad);
    return anim;
}
} // namespace

const QList<double> &FakeWaveView::baseHeights()
{
    static const QList<double> heights{4, 8, 12, 16, 20, 24, 20, 16, 12, 8, 4, 8, 4};
    return heights;
}

FakeWaveView::FakeWaveView(QColor color, QWidget *parent)
    : QWidget(parent), m_color(color), m_heights(barCount, kRestHeight)
{
    setFixedSize(barCount * barWidth + (barCount - 1) * spacing, height);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

FakeWaveView::~FakeWaveView()
{
    stopAnimating();
}

void FakeWaveView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    startAnimating();
}

void FakeWaveView::hideEvent(QHideEvent *event)
{
    stopAnimating();
    QWidget::hideEvent(event);
}

void FakeWaveView::startAnimating()
{
    stopAnimating();
    m_isAnimating = true;
    // New random timings each time the bars are built, as on every appearance.
    QRandomGenerator *random = QRandomGenerator::global();
    for (int i = 0; i < barCount; ++i) {
        const int duration = 300 + static_cast<int>(random->bounded(201));
        const int delay = static_cast<int>(random->bounded(301));
        m_timings << std::pair{duration, delay};
        const double base = baseHeights().at(i);

        auto *cycle = new QSequentialAnimationGroup(this);
        auto *up = heightAnimation(kRestHeight, base, duration, cycle);
        auto *down = heightAnimation(base, kRestHeight, duration, cycle);
        cycle->addAnimation(up);
        cycle->addAnimation(down);
        cycle->setLoopCount(-1);
        for (QVariantAnimation *anim : {up, down}) {
            connect(anim, &QVariantAnimation::valueChanged, this, [this, i](const QVariant &value) {
                m_heights[i] = value.toDouble();
                update();
            });
        }
        auto *whole = new QSequentialAnimationGroup(this);
        whole->addAnimation(new QPauseAnimation(delay, whole));
        whole->addAnimation(cycle);
        whole->start();
        m_animations << whole;
    }
}

void FakeWaveView::stopAnimating()
{
    m_isAnimating = false;
    qDeleteAll(m_animations);
    m_animations.clear();
    m_timings.clear();
    m_heights = QList<double>(barCount, kRestHeight);
}

void FakeWaveView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    for (int i = 0; i < barCount; ++i) {
        const double h = m_heights.at(i);
        const QRectF bar(i * (barWidth + spacing), (height - h) / 2.0, barWidth, h);
        painter.drawRoundedRect(bar, 1.5, 1.5);
    }
}
