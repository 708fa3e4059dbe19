#pragma once

#include "history/VoxleHistoryEntry.h"

#include <QCoro/QCoroTask>
#include <QWidget>
#include <memory>

class Clock;
class HistoryEntryRow;
class Pasteboard;
class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class VoxleAppState;
class VoxleHistoryStore;
class VoxleSectionCard;

// History: the privacy note, the retention choice, and the newest 400 local rows with a kind filter, copy and
// delete. Loads when shown, when the filter changes and on "刷新".
class VoxleHistoryView : public QWidget
{
    Q_OBJECT
public:
    enum class Filter { all, polish, translate };
    static constexpr int limit = 400;

    VoxleHistoryView(VoxleAppState &state, VoxleHistoryStore &store, Pasteboard &pasteboard, Clock &clock,
                     QWidget *parent = nullptr);
    ~VoxleHistoryView() override;

    Filter filter() const { return m_filter; }
    void setFilter(Filter filter);
    bool isLoading() const { return m_isLoading; }
    const QList<VoxleHistoryEntry> &entries() const { return m_entries; }
    QList<HistoryEntryRow *> rows() const;
    // "加载中…", "暂无历史记录。" or empty while rows are listed.
    QString placeholderText() const;
    QComboBox *retentionPicker() const { return m_retention; }
    QPushButton *refreshButton() const { return m_refresh; }
    QPushButton *filterButton(Filter filter) const;

    // Starts a load; a newer load supersedes a running one.
    void reload();

signals:
    // A load finished and its rows are listed.
    void loaded();

protected:
    void showEvent(QShowEvent *event) override;

private:
    VoxleSectionCard *setupPrivacy();
    VoxleSectionCard *setupRetention();
    VoxleSectionCard *setupRecent();
    void setupConnections();
    QCoro::Task<> load();
    QCoro::Task<> remove(qint64 id);
    void showEntries();

    VoxleAppState &m_state;
    VoxleHistoryStore &m_store;
    Pasteboard &m_pasteboard;
    Clock &m_clock;
    Filter m_filter = Filter::all;
    QList<VoxleHistoryEntry> m_entries;
    bool m_isLoading = false;
    quint64 m_generation = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    QComboBox *m_retention = nullptr;
    QButtonGroup *m_filterGroup = nullptr;
    QPushButton *m_refresh = nullptr;
    QLabel *m_placeholder = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
};
