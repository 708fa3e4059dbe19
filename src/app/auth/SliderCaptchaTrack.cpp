#include "app/auth/SliderCaptchaTrack.h"

#include "app/auth/AuthButtonStyles.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

SliderCaptchaTrack::SliderCaptchaTrack(double trackWidth, double handleWidth, QWidget *parent)
    : QWidget(parent), m_trackWidth(trackWidth), m_handleWidth(handleWidth)
{
    setFixedSize(qRound(trackWidth), qRound(height));
    setCursor(Qt::OpenHandCursor);
}

void SliderCaptchaTrack::setHandleLeft(double left)
{
    m_handleLeft = left;
    update();
}

QRectF SliderCaptchaTrack::handleRect() const
{
    return QRectF(m_handleLeft, 0, m_handleWidth, height);
}

void SliderCaptchaTrack::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setOpacity(isEnabled() ? 1.0 : 0.55);
    const QRectF frame(0, 0, m_trackWidth, height);
    const QColor accent = authAccentColor();

    QPainterPath track;
    track.addRoundedRect(frame, 12, 12);
    painter.fillPath(track, QColor::fromRgbF(1, 1, 1, 0.05f));
    QColor trail = accent;
    trail.setAlphaF(0.15f);
    painter.save();
    painter.setClipPath(track);
    painter.fillRect(QRectF(0, 0, m_handleLeft + m_handleWidth / 2, height), trail);
    painter.restore();
    QPen border(QColor::fromRgbF(1, 1, 1, 0.12f));
    border.setWidthF(1);
    painter.setPen(border);
    painter.drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);

    const QRectF handle = handleRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawRoundedRect(handle, 8, 8);

    // Two chevrons pointing right.
    QPen chevron(Qt::white);
    chevron.setWidthF(2.4);
    chevron.setCapStyle(Qt::RoundCap);
    chevron.setJoinStyle(Qt::RoundJoin);
    painter.setPen(chevron);
    const QPointF c = handle.center();
    for (const double dx : {-4.0, 3.0}) {
        const QPointF tip(c.x() + dx + 3, c.y());
        painter.drawPolyline(QList<QPointF>{QPointF(tip.x() - 5, c.y() - 6), tip, QPointF(tip.x() - 5, c.y() + 6)});
    }
}

void SliderCaptchaTrack::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !handleRect().contains(event->position())) {
        event->ignore();
        return;
    }
    m_dragging = true;
    m_pressPos = event->position();
    setCursor(Qt::ClosedHandCursor);
    emit dragChanged(QPointF(0, 0));
}

void SliderCaptchaTrack::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    emit dragChanged(event->position() - m_pressPos);
}

void SliderCaptchaTrack::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    setCursor(Qt::OpenHandCursor);
    emit dragChanged(event->position() - m_pressPos);
    emit dragEnded();
}

void SliderCaptchaTrack::changeEvent(QEvent *event)
{
    // A track disabled in the middle of a drag never sees the release.
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        m_dragging = false;
    QWidget::changeEvent(event);
}
