#include "app/auth/SliderCaptchaPicture.h"

#include "app/auth/SliderCaptchaArtView.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

SliderCaptchaPicture::SliderCaptchaPicture(double pictureWidth, double puzzleSize, double travel, QWidget *parent)
    : QWidget(parent), m_width(pictureWidth), m_puzzleSize(puzzleSize), m_travel(travel)
{
    setFixedSize(qRound(pictureWidth), qRound(height));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SliderCaptchaPicture::setSeed(qint64 seed)
{
    m_seed = seed;
    update();
}

void SliderCaptchaPicture::setTargetPosition(int percent)
{
    m_targetPosition = percent;
    update();
}

void SliderCaptchaPicture::setPieceLeft(double left)
{
    m_pieceLeft = left;
    update();
}

QRectF SliderCaptchaPicture::slotRect() const
{
    return QRectF(m_targetPosition / 100.0 * m_travel, puzzleTop, m_puzzleSize, m_puzzleSize);
}

QRectF SliderCaptchaPicture::pieceRect() const
{
    return QRectF(m_pieceLeft, puzzleTop, m_puzzleSize, m_puzzleSize);
}

void SliderCaptchaPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF frame(0, 0, m_width, height);
    QPainterPath clip;
    clip.addRoundedRect(frame, 12, 12);
    painter.setClipPath(clip);

    QLinearGradient ground(frame.topLeft(), frame.bottomRight());
    ground.setColorAt(0, QColor::fromRgbF(0.1f, 0.23f, 0.25f));
    ground.setColorAt(1, QColor::fromRgbF(0.06f, 0.14f, 0.2f));
    painter.fillRect(frame, ground);
    SliderCaptchaArtView::paint(painter, frame.size(), m_seed);

    // The slot: dashed outline, 4 on 4 (Qt's dash lengths are in pen widths).
    QPen dashed(QColor::fromRgbF(1, 1, 1, 0.4f));
    dashed.setWidthF(2);
    dashed.setDashPattern({2, 2});
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(slotRect(), 8, 8);

    // The piece with a soft shadow below it.
    const QRectF piece = pieceRect();
    painter.setPen(Qt::NoPen);
    for (int i = 4; i >= 1; --i) {
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.3f / 4));
        painter.drawRoundedRect(piece.translated(0, 2).adjusted(-i, -i, i, i), 8 + i, 8 + i);
    }
    painter.setBrush(QColor::fromRgbF(0.18f, 0.6f, 0.45f));
    painter.drawRoundedRect(piece, 8, 8);

    painter.setClipping(false);
    QPen border(QColor::fromRgbF(1, 1, 1, 0.12f));
    border.setWidthF(1);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}
