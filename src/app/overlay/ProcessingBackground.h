#pragma once

#include <QWidget>

class QVariantAnimation;

// The processing shimmer: a bright band, half as wide as the pill, sweeping left to right every 1.5 s.
class ProcessingBackground : public QWidget
{
    Q_OBJECT
public:
    explicit ProcessingBackground(QWidget *parent = nullptr);

    double phase() const { return m_phase; }
    bool isSweeping() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    double m_phase = -1.0;
    QVariantAnimation *m_animation;
};
