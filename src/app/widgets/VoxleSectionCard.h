#pragma once

#include <QFrame>

class QVBoxLayout;

// A titled rounded card; pages put their rows and controls into body().
class VoxleSectionCard : public QFrame
{
    Q_OBJECT
public:
    explicit VoxleSectionCard(const QString &title, QWidget *parent = nullptr);
    QVBoxLayout *body() const { return m_body; }

private:
    QVBoxLayout *m_body;
};
