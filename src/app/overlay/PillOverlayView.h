#pragma once

#include "base/VoxleTypes.h"
#include "core/OverlayState.h"

#include <QWidget>

class FakeWaveView;
class ProcessingBackground;
class QHBoxLayout;
class QLabel;
class QPushButton;
class VoxleAppState;

// The pill drawn in the overlay panel: mode, what the dictation is doing, the live text, the bars while
// listening, the shimmer while processing, and a cancel button. Follows the state's overlay by itself.
class PillOverlayView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int pillWidth = 400;

    explicit PillOverlayView(VoxleAppState &state, QWidget *parent = nullptr);

    // What the pill shows for an overlay value.
    struct Content {
        QString mode;  // "翻译" or "言川"
        QString title; // "正在听…", "处理中", "请重试"
        QString text;  // the partial transcript, or the message
        QString hint;  // the short hint while listening
        bool bars = false;
        bool shimmer = false;
        bool operator==(const Content &) const = default;
    };
    static Content content(const OverlayState &overlay, DictationMode mode);
    // The listening hint shortened to what fits the pill.
    static QString shortHint(const QString &hint);

    // Where the desktop owns the hotkeys (Wayland), the hint names its shortcut instead of Fn.
    void setDesktopShortcuts(bool desktopShortcuts);

    QString modeText() const;
    QString titleText() const;
    // The text line: the partial transcript while listening, the message while processing or in error.
    QString textLine() const;
    // The short hint; empty outside the listening state.
    QString hintText() const;
    bool showsBars() const;
    bool showsShimmer() const;
    QPushButton *cancelButton() const { return m_cancel; }
    QWidget *pill() const { return m_pill; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refresh();
    void placePill();

    VoxleAppState &m_state;
    bool m_desktopShortcuts = false;
    QWidget *m_pill;
    ProcessingBackground *m_shimmer;
    QHBoxLayout *m_row;
    QLabel *m_mode;
    QLabel *m_title;
    QLabel *m_hint;
    QLabel *m_text;
    FakeWaveView *m_bars;
    QWidget *m_barsBox;
    QPushButton *m_cancel;
    QString m_fullText;
};
