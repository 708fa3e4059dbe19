#pragma once

#include <QPointF>
#include <QWidget>

// The slider track with its drag handle. It reports the drag (translation from the press point, in track
// coordinates) and leaves the handle's position to the captcha view.
class SliderCaptchaTrack : public QWidget
{
    Q_OBJECT
public:
    SliderCaptchaTrack(double trackWidth, double handleWidth, QWidget *parent = nullptr);

    void setHandleLeft(double left);
    double handleLeft() const { return m_handleLeft; }
    QRectF handleRect() const;

    static constexpr double height = 44;

signals:
    void dragChanged(QPointF translation);
    void dragEnded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    double m_trackWidth;
    double m_handleWidth;
    double m_handleLeft = 0;
    bool m_dragging = false;
    QPointF m_pressPos;
};
