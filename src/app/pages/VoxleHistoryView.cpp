#include "app/pages/VoxleHistoryView.h"

#include "app/pages/HistoryEntryRow.h"
#include "app/widgets/VoxlePageHeader.h"
#include "app/widgets/VoxleSectionCard.h"
#include "app/widgets/VoxleStyle.h"
#include "base/Clock.h"
#include "core/VoxleAppState.h"
#include "history/VoxleHistoryStore.h"
#include "platform/Pasteboard.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
std::optional<VoxleHistoryEntry::Kind> kindOf(VoxleHistoryView::Filter filter)
{
    switch (filter) {
    case VoxleHistoryView::Filter::all:
        return std::nullopt;
    case VoxleHistoryView::Filter::polish:
        return VoxleHistoryEntry::Kind::polish;
    case VoxleHistoryView::Filter::translate:
        return VoxleHistoryEntry::Kind::translate;
    }
    return std::nullopt;
}
} // namespace

VoxleHistoryView::VoxleHistoryView(VoxleAppState &state, VoxleHistoryStore &store, Pasteboard &pasteboard, Clock &clock,
                                   QWidget *parent)
    : QWidget(parent), m_state(state), m_store(store), m_pasteboard(pasteboard), m_clock(clock)
{
    auto *page = new QVBoxLayout(this);
    page->setSpacing(16);
    page->addWidget(new VoxlePageHeader(QStringLiteral("历史"), QStringLiteral("历史记录"), this));

    page->addWidget(setupPrivacy());
    page->addWidget(setupRetention());
    page->addWidget(setupRecent());
    page->addStretch(1);
    setupConnections();
}

VoxleSectionCard *VoxleHistoryView::setupPrivacy()
{
    auto *privacy = new VoxleSectionCard(QStringLiteral("您的数据保持私密"), this);
    auto *privacyText = new QLabel(
        QStringLiteral("您的语音口述是私密的，零数据保留。它们仅存储在您的设备上，无法从其他地方访问。"), privacy);
    privacyText->setWordWrap(true);
    privacyText->setObjectName(QStringLiteral("voxleExplanation"));
    privacy->body()->addWidget(privacyText);
    return privacy;
}

VoxleSectionCard *VoxleHistoryView::setupRetention()
{
    auto *keep = new VoxleSectionCard(QStringLiteral("保存历史"), this);
    auto *keepRow = new QHBoxLayout;
    keepRow->addWidget(new QLabel(QStringLiteral("您希望在设备上保存口述历史多久？"), keep), 1);
    m_retention = new QComboBox(keep);
    for (VoxleHistoryRetention retention : allHistoryRetentions())
        m_retention->addItem(label(retention), rawValue(retention));
    keepRow->addWidget(m_retention);
    keep->body()->addLayout(keepRow);
    return keep;
}

VoxleSectionCard *VoxleHistoryView::setupRecent()
{
    auto *recent = new VoxleSectionCard(QStringLiteral("最近听写记录（本地）"), this);
    auto *controls = new QHBoxLayout;
    m_filterGroup = new QButtonGroup(this);
    m_filterGroup->setExclusive(true);
    const std::pair<Filter, QString> filters[] = {{Filter::all, QStringLiteral("全部")},
                                                  {Filter::polish, QStringLiteral("润色")},
                                                  {Filter::translate, QStringLiteral("翻译")}};
    for (const auto &[filter, text] : filters) {
        auto *button = new QPushButton(text, recent);
        button->setCheckable(true);
        button->setChecked(filter == m_filter);
        VoxleStyle::makeSecondary(button);
        m_filterGroup->addButton(button, static_cast<int>(filter));
        controls->addWidget(button);
    }
    controls->addStretch(1);
    m_refresh = new QPushButton(QStringLiteral("刷新"), recent);
    VoxleStyle::makeSecondary(m_refresh);
    controls->addWidget(m_refresh);
    recent->body()->addLayout(controls);
    m_placeholder = new QLabel(recent);
    m_placeholder->setObjectName(QStringLiteral("voxleExplanation"));
    recent->body()->addWidget(m_placeholder);
    m_list = new QWidget(recent);
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    recent->body()->addWidget(m_list);
    return recent;
}

void VoxleHistoryView::setupConnections()
{
    auto syncRetention = [this] {
        const int index = m_retention->findData(rawValue(m_state.preferences().historyRetention()));
        if (index >= 0 && index != m_retention->currentIndex())
            m_retention->setCurrentIndex(index);
    };
    syncRetention();
    connect(&m_state.preferences(), &VoxlePreferences::historyRetentionChanged, this, [this, syncRetention] {
        syncRetention();
        // The state applies the new retention on the next turn of the event loop, and the store runs its work in
        // order: a load queued two turns from now follows the deletion and lists what is left.
        QMetaObject::invokeMethod(
            this, [this] { QMetaObject::invokeMethod(this, &VoxleHistoryView::reload, Qt::QueuedConnection); },
            Qt::QueuedConnection);
    });
    connect(m_retention, &QComboBox::currentIndexChanged, this, [this](int index) {
        const auto chosen = parseHistoryRetention(m_retention->itemData(index).toString());
        if (index >= 0 && chosen && *chosen != m_state.preferences().historyRetention())
            m_state.preferences().setHistoryRetention(*chosen);
    });
    connect(m_filterGroup, &QButtonGroup::idClicked, this, [this](int id) { setFilter(static_cast<Filter>(id)); });
    connect(m_refresh, &QPushButton::clicked, this, &VoxleHistoryView::reload);
}

VoxleHistoryView::~VoxleHistoryView()
{
    *m_alive = false;
}

QPushButton *VoxleHistoryView::filterButton(Filter filter) const
{
    return qobject_cast<QPushButton *>(m_filterGroup->button(static_cast<int>(filter)));
}

void VoxleHistoryView::setFilter(Filter filter)
{
    if (QAbstractButton *button = m_filterGroup->button(static_cast<int>(filter)))
        button->setChecked(true);
    if (filter == m_filter)
        return;
    m_filter = filter;
    reload();
}

QList<HistoryEntryRow *> VoxleHistoryView::rows() const
{
    return m_list->findChildren<HistoryEntryRow *>(Qt::FindDirectChildrenOnly);
}

QString VoxleHistoryView::placeholderText() const
{
    return m_placeholder->isHidden() ? QString() : m_placeholder->text();
}

void VoxleHistoryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    reload();
}

void VoxleHistoryView::reload()
{
    load();
}

QCoro::Task<> VoxleHistoryView::load()
{
    const quint64 generation = ++m_generation;
    const std::shared_ptr<bool> alive = m_alive;
    m_isLoading = true;
    m_placeholder->setText(QStringLiteral("加载中…"));
    m_placeholder->show();
    VoxleHistoryStore *store = &m_store;
    QList<VoxleHistoryEntry> entries = co_await store->fetchRecent(kindOf(m_filter), limit);
    // A page that is gone, or a newer load, wins.
    if (!*alive || generation != m_generation)
        co_return;
    m_isLoading = false;
    m_entries = std::move(entries);
    showEntries();
    emit loaded();
}

QCoro::Task<> VoxleHistoryView::remove(qint64 id)
{
    const std::shared_ptr<bool> alive = m_alive;
    VoxleHistoryStore *store = &m_store;
    co_await store->remove(id);
    if (*alive)
        reload();
}

void VoxleHistoryView::showEntries()
{
    for (HistoryEntryRow *row : rows()) {
        row->hide();
        row->deleteLater();
        row->setParent(nullptr);
    }
    const QDateTime now = m_clock.now();
    for (const VoxleHistoryEntry &entry : std::as_const(m_entries)) {
        const QString output = entry.outputText;
        const qint64 id = entry.id;
        auto *row = new HistoryEntryRow(
            entry, now, [this, output] { m_pasteboard.setString(output); }, [this, id] { remove(id); }, m_list);
        m_listLayout->addWidget(row);
    }
    m_placeholder->setText(m_entries.isEmpty() ? QStringLiteral("暂无历史记录。") : QString());
    m_placeholder->setVisible(m_entries.isEmpty());
}
