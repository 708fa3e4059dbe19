#include "app/overlay/PillOverlayView.h"

#include "app/overlay/FakeWaveView.h"
#include "app/overlay/ProcessingBackground.h"
#include "core/VoxleAppState.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// The pill's own frame: translucent black, a faint white border, clipped to its rounded shape.
class PillFrame : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(QColor(255, 255, 255, static_cast<int>(0.12 * 255)), 1));
        painter.setBrush(QColor(0, 0, 0, static_cast<int>(0.84 * 255)));
        painter.drawRoundedRect(r, 24, 24);
    }
};

QFont pillFont(int pixelSize)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Medium);
    return font;
}

QString trimmedOr(const std::optional<QString> &text, const QString &fallback)
{
    const QString trimmed = text.value_or(QString()).trimmed();
    return trimmed.isEmpty() ? fallback : trimmed;
}
} // namespace

PillOverlayView::PillOverlayView(VoxleAppState &state, QWidget *parent)
    : QWidget(parent), m_state(state), m_pill(new PillFrame(this)), m_shimmer(new ProcessingBackground(m_pill)),
      m_row(new QHBoxLayout(m_pill)), m_mode(new QLabel(m_pill)), m_title(new QLabel(m_pill)),
      m_hint(new QLabel(m_pill)), m_text(new QLabel(m_pill)), m_bars(nullptr), m_barsBox(new QWidget(m_pill)),
      m_cancel(new QPushButton(QStringLiteral("✕"), m_pill))
{
    setAttribute(Qt::WA_TranslucentBackground);
    // The pill hugs its content inside the view's 400 px.
    m_pill->setMinimumSize(140, 44);
    m_pill->setMaximumWidth(pillWidth);
    auto *shadow = new QGraphicsDropShadowEffect(m_pill);
    shadow->setColor(QColor(0, 0, 0, static_cast<int>(0.28 * 255)));
    shadow->setBlurRadius(20);
    shadow->setOffset(0, 8);
    m_pill->setGraphicsEffect(shadow);

    const QString white = QStringLiteral("color: white;");
    m_mode->setFont(pillFont(14));
    m_mode->setStyleSheet(white);
    for (QLabel *label : {m_mode, m_title, m_hint, m_text})
        label->setTextFormat(Qt::PlainText); // transcripts and server messages are never markup
    for (QLabel *label : {m_title, m_text}) {
        label->setFont(pillFont(13));
        label->setStyleSheet(white);
    }
    m_hint->setFont(pillFont(12));
    m_hint->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.6);"));

    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(m_title);
    titleLine->addWidget(m_hint);
    titleLine->addStretch(1);
    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    column->addLayout(titleLine);
    column->addWidget(m_text);

    // Bars with 18 px before them and -15 px after them: the cancel button moves closer.
    auto *barsLayout = new QHBoxLayout(m_barsBox);
    barsLayout->setContentsMargins(18, 0, 0, 0);
    m_bars = new FakeWaveView(Qt::white, m_barsBox);
    barsLayout->addWidget(m_bars);

    m_cancel->setFixedSize(28, 28);
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_cancel->setCursor(Qt::PointingHandCursor);
    m_cancel->setStyleSheet(QStringLiteral("QPushButton { color: white; font-weight: bold; font-size: 12px; "
                                           "background: rgba(255,255,255,0.15); border: none; border-radius: 14px; }"));
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_state.cancelRecording(); });

    m_row->setSpacing(12);
    m_row->addWidget(m_mode);
    m_row->addLayout(column, 1);
    m_row->addWidget(m_barsBox);
    m_row->addWidget(m_cancel);

    connect(&m_state, &VoxleAppState::overlayChanged, this, &PillOverlayView::refresh);
    connect(&m_state, &VoxleAppState::activeDictationModeChanged, this, &PillOverlayView::refresh);
    refresh();
}

void PillOverlayView::setDesktopShortcuts(bool desktopShortcuts)
{
    m_desktopShortcuts = desktopShortcuts;
    refresh();
}

QString PillOverlayView::shortHint(const QString &hint)
{
    const QString trimmed = hint.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("按 Fn 结束");
    if (trimmed.contains(QStringLiteral("Fn + ⇧")) || trimmed.contains(QStringLiteral("Fn + Space")))
        return QStringLiteral("按 Fn 结束");
    if (trimmed.contains(QStringLiteral("松开结束")))
        return QStringLiteral("松开结束");
    if (trimmed.contains(QStringLiteral("再次按下结束")))
        return QStringLiteral("再次按下结束");
    return QStringLiteral("按 Fn 结束");
}

QString PillOverlayView::modeText() const
{
    return m_mode->text();
}

QString PillOverlayView::titleText() const
{
    return m_title->text();
}

QString PillOverlayView::textLine() const
{
    return m_fullText;
}

QString PillOverlayView::hintText() const
{
    return m_hint->text();
}

bool PillOverlayView::showsBars() const
{
    return !m_barsBox->isHidden();
}

bool PillOverlayView::showsShimmer() const
{
    return !m_shimmer->isHidden();
}

PillOverlayView::Content PillOverlayView::content(const OverlayState &overlay, DictationMode mode)
{
    Content c;
    c.mode = mode == DictationMode::translate ? QStringLiteral("翻译") : QStringLiteral("言川");
    switch (overlay.kind) {
    case OverlayState::Kind::recording:
        c.title = QStringLiteral("正在听…");
        c.text = overlay.partial.value_or(QString());
        c.hint = shortHint(overlay.hint);
        c.bars = true;
        break;
    case OverlayState::Kind::processing:
        c.title = QStringLiteral("处理中");
        c.text = trimmedOr(overlay.message, QStringLiteral("AI 处理中…"));
        c.shimmer = true;
        break;
    case OverlayState::Kind::error:
        c.title = QStringLiteral("请重试");
        c.text = trimmedOr(overlay.message, QStringLiteral("发生错误"));
        break;
    case OverlayState::Kind::hidden:
        break;
    }
    return c;
}

void PillOverlayView::refresh()
{
    const OverlayState &overlay = m_state.overlay();
    if (overlay.kind == OverlayState::Kind::hidden)
        return; // the panel is hidden; keep the last content until the next value
    Content c = content(overlay, m_state.activeDictationMode());
    if (m_desktopShortcuts && c.hint == QStringLiteral("按 Fn 结束"))
        c.hint = QStringLiteral("再按快捷键结束");
    const bool recording = c.bars;
    m_mode->setText(c.mode);
    m_title->setText(c.title);
    m_hint->setText(c.hint);
    m_text->setText(c.text);
    m_hint->setVisible(recording);
    m_barsBox->setVisible(c.bars);
    m_shimmer->setVisible(c.shimmer);
    m_row->setContentsMargins(recording ? 8 : 20, recording ? 8 : 12, recording ? 8 : 20, recording ? 8 : 12);
    // One line, cut at its tail, in the room the other items leave.
    m_fullText = m_text->text();
    const int room = pillWidth - (recording ? 230 : 150);
    m_text->setText(m_text->fontMetrics().elidedText(m_fullText, Qt::ElideRight, room));
    m_text->setVisible(!m_fullText.isEmpty());
    m_pill->adjustSize();
    placePill();
}

void PillOverlayView::placePill()
{
    m_pill->move((width() - m_pill->width()) / 2, (height() - m_pill->height()) / 2);
    m_shimmer->setGeometry(m_pill->rect());
    m_shimmer->lower();
}

void PillOverlayView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placePill();
}
