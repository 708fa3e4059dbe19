#include "app/overlay/ProcessingBackground.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

ProcessingBackground::ProcessingBackground(QWidget *parent) : QWidget(parent), m_animation(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_animation->setStartValue(-1.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(1500);
    m_animation->setEasingCurve(QEasingCurve::Linear);
    m_animation->setLoopCount(-1);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_phase = value.toDouble();
        update();
    });
}

bool ProcessingBackground::isSweeping() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void ProcessingBackground::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_phase = -1.0;
    m_animation->start();
}

void ProcessingBackground::hideEvent(QHideEvent *event)
{
    m_animation->stop();
    QWidget::hideEvent(event);
}

void ProcessingBackground::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath pill;
    pill.addRoundedRect(QRectF(rect()), 24, 24);
    painter.setClipPath(pill);
    const QRectF band(m_phase * width(), 0, width() / 2.0, height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, static_cast<int>(0.15 * 255)));
    painter.drawRoundedRect(band, 24, 24);
}
