#pragma once

#include <QWidget>

// The captcha picture: the seeded background with the dashed slot at the challenge's position and the
// coloured piece that follows the handle.
class SliderCaptchaPicture : public QWidget
{
    Q_OBJECT
public:
    SliderCaptchaPicture(double pictureWidth, double puzzleSize, double travel, QWidget *parent = nullptr);

    void setSeed(qint64 seed);
    // Slot position in percent of the travel (0 to 100).
    void setTargetPosition(int percent);
    void setPieceLeft(double left);

    qint64 seed() const { return m_seed; }
    QRectF slotRect() const;
    QRectF pieceRect() const;

    static constexpr double height = 160;
    static constexpr double puzzleTop = 54;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_width;
    double m_puzzleSize;
    double m_travel;
    qint64 m_seed = 1;
    int m_targetPosition = 0;
    double m_pieceLeft = 0;
};
