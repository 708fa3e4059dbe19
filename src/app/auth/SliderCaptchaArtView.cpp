#include "app/auth/SliderCaptchaArtView.h"

#include "app/auth/SliderCaptchaRandom.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

SliderCaptchaArtView::SliderCaptchaArtView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SliderCaptchaArtView::setSeed(qint64 seed)
{
    if (seed == m_seed)
        return;
    m_seed = seed;
    update();
}

void SliderCaptchaArtView::paint(QPainter &painter, const QSizeF &size, qint64 seed)
{
    const double w = size.width();
    const double h = size.height();
    SliderCaptchaRandom random(seed);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);

    // 1. Base: a teal diagonal gradient in a rounded rectangle.
    const double hue = random.closed(0.47, 0.53);
    QLinearGradient base(QPointF(0, 0), QPointF(w, h));
    base.setColorAt(0.0, QColor::fromHsvF(float(hue), 0.28f, 0.28f));
    base.setColorAt(0.58, QColor::fromHsvF(float(hue + 0.02), 0.45f, 0.22f));
    base.setColorAt(1.0, QColor::fromHsvF(float(hue + 0.07), 0.58f, 0.2f));
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, w, h), 8, 8);
    painter.fillPath(rounded, base);

    // 2. Ten soft discs.
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 10; ++i) {
        const double d = random.closed(26, 84);
        const double x = random.closed(-20, w + 20);
        const double y = random.closed(-20, h + 20);
        const double discHue = random.closed(0.46, 0.55);
        const double opacity = random.closed(0.1, 0.2);
        QColor inner = QColor::fromHsvF(float(discHue), 0.82f, 0.86f, float(opacity));
        QColor outer = inner;
        outer.setAlphaF(0.0f);
        const QPointF centre(x + d / 2, y + d / 2);
        QRadialGradient disc(centre, d / 2);
        disc.setColorAt(0.0, inner);
        disc.setColorAt(1.0, outer);
        painter.setBrush(disc);
        painter.drawEllipse(QRectF(x, y, d, d));
    }

    // 3. Diagonal hatching.
    painter.setBrush(Qt::NoBrush);
    QPen hatch(QColor::fromRgbF(1, 1, 1, 0.03f));
    hatch.setWidthF(1.0);
    painter.setPen(hatch);
    for (double x0 = -h; x0 <= w; x0 += 18)
        painter.drawLine(QPointF(x0, 0), QPointF(x0 + h, h));

    // 4. Grain.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.05f));
    for (int i = 0; i < 180; ++i) {
        const double x = random.halfOpen(0, w);
        const double y = random.halfOpen(0, h);
        painter.drawEllipse(QRectF(x, y, 1, 1));
    }

    // 5. Sheen over the upper part.
    QLinearGradient sheen(QPointF(0, 0), QPointF(0, 0.55 * h));
    sheen.setColorAt(0.0, QColor::fromRgbF(1, 1, 1, 0.12f));
    sheen.setColorAt(0.5, QColor::fromRgbF(1, 1, 1, 0.04f));
    sheen.setColorAt(1.0, QColor::fromRgbF(1, 1, 1, 0.0f));
    painter.fillRect(QRectF(0, 0, w, 0.55 * h), sheen);

    painter.restore();
}

QImage SliderCaptchaArtView::renderImage(qint64 seed, const QSize &size, qreal devicePixelRatio)
{
    QImage image(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, QSizeF(size), seed);
    return image;
}

void SliderCaptchaArtView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, QSizeF(size()), m_seed);
}
