#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;

// One "key: value" line of a card, with room for buttons at its end.
class VoxleKeyValueRow : public QWidget
{
    Q_OBJECT
public:
    VoxleKeyValueRow(const QString &key, const QString &value = {}, QWidget *parent = nullptr);

    QString key() const;
    QString value() const;
    void setValue(const QString &value);
    // Adds a widget (usually a button) after the value.
    void addTrailing(QWidget *widget);

private:
    QLabel *m_key;
    QLabel *m_value;
    QHBoxLayout *m_layout;
};
