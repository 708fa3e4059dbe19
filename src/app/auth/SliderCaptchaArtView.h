#pragma once

#include <QImage>
#include <QWidget>

class QPainter;

// The captcha's background picture, drawn from its seed alone: the same seed always gives the same picture,
// a new seed a new one, so the slot cannot be found by comparing screenshots of a fixed image.
class SliderCaptchaArtView : public QWidget
{
    Q_OBJECT
public:
    explicit SliderCaptchaArtView(QWidget *parent = nullptr);

    qint64 seed() const { return m_seed; }
    void setSeed(qint64 seed);

    // Draws the picture for `seed` on a canvas of `size` with its origin at the painter's origin.
    static void paint(QPainter &painter, const QSizeF &size, qint64 seed);
    // The picture alone, on a transparent image of `size` logical points.
    static QImage renderImage(qint64 seed, const QSize &size, qreal devicePixelRatio = 1.0);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint64 m_seed = 1;
};
