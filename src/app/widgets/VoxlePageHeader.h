#pragma once

#include <QWidget>

class QLabel;

// A page's title with an optional subtitle below it.
class VoxlePageHeader : public QWidget
{
    Q_OBJECT
public:
    explicit VoxlePageHeader(const QString &title, const QString &subtitle = {}, QWidget *parent = nullptr);

private:
    QLabel *m_title;
    QLabel *m_subtitle;
};
