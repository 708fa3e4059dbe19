#include "AppRig.h"
#include "app/HistoryEntryRow.h"
#include "app/VoxleHistoryView.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using Kind = VoxleHistoryEntry::Kind;
using Filter = VoxleHistoryView::Filter;

class TestHistoryView : public QObject
{
    Q_OBJECT

    static QStringList outputs(const VoxleHistoryView &view)
    {
        QStringList texts;
        for (HistoryEntryRow *row : view.rows())
            texts << row->entry().outputText;
        return texts;
    }

private slots:
    void list_filterCopyDeleteUntilEmpty()
    {
        AppRig rig;
        const QDateTime now = rig.clock.now();
        rig.historyStore->insert(Kind::record, QStringLiteral("raw one"), QStringLiteral("第一条"), now.addDays(-3));
        rig.historyStore->insert(Kind::polish, QStringLiteral("raw two"), QStringLiteral("第二条"), now.addDays(-1));
        rig.historyStore->insert(Kind::translate, QStringLiteral("raw three"), QStringLiteral("third"), now);

        VoxleHistoryView view(*rig.state, *rig.historyStore, rig.pasteboard, rig.clock);
        QSignalSpy loaded(&view, &VoxleHistoryView::loaded);
        view.show();
        QCOMPARE(view.placeholderText(), QStringLiteral("加载中…"));
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view),
                 (QStringList{QStringLiteral("third"), QStringLiteral("第二条"), QStringLiteral("第一条")}));
        QCOMPARE(view.placeholderText(), QString());

        view.filterButton(Filter::polish)->click();
        QCOMPARE(view.filter(), Filter::polish);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), QStringList{QStringLiteral("第二条")});
        view.filterButton(Filter::translate)->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), QStringList{QStringLiteral("third")});
        view.filterButton(Filter::all)->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(view.rows().size(), 3);

        view.rows().at(1)->copyButton()->click();
        QCOMPARE(rig.pasteboard.string(), std::optional<QString>(QStringLiteral("第二条")));

        // Rows added elsewhere appear on "刷新".
        rig.historyStore->insert(Kind::record, QString(), QStringLiteral("新的一条"), now);
        view.refreshButton()->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view).first(), QStringLiteral("新的一条"));

        while (!view.rows().isEmpty()) {
            const int before = static_cast<int>(view.rows().size());
            view.rows().first()->deleteButton()->click();
            QVERIFY(loaded.wait(5000));
            QCOMPARE(view.rows().size(), before - 1);
        }
        QCOMPARE(view.placeholderText(), QStringLiteral("暂无历史记录。"));
        const QList<VoxleHistoryEntry> left = QCoro::waitFor(rig.historyStore->fetchRecent(std::nullopt, 10));
        QVERIFY(left.isEmpty());
    }

    void filter_newerLoadWins()
    {
        AppRig rig;
        const QDateTime now = rig.clock.now();
        rig.historyStore->insert(Kind::polish, QString(), QStringLiteral("润色的"), now);
        rig.historyStore->insert(Kind::translate, QString(), QStringLiteral("translated"), now);
        VoxleHistoryView view(*rig.state, *rig.historyStore, rig.pasteboard, rig.clock);
        QSignalSpy loaded(&view, &VoxleHistoryView::loaded);
        // Two filter changes before either load has answered: only the last one is listed.
        view.setFilter(Filter::polish);
        view.setFilter(Filter::translate);
        QVERIFY(view.isLoading());
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), QStringList{QStringLiteral("translated")});
        QTest::qWait(50);
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(outputs(view), QStringList{QStringLiteral("translated")});
    }

    void rows_kindAndTimeLabels()
    {
        QCOMPARE(HistoryEntryRow::kindLabel(Kind::record), QStringLiteral("语音"));
        QCOMPARE(HistoryEntryRow::kindLabel(Kind::polish), QStringLiteral("润色"));
        QCOMPARE(HistoryEntryRow::kindLabel(Kind::translate), QStringLiteral("翻译"));
        const QDateTime now(QDate(2026, 12, 6), QTime(15, 30), Qt::LocalTime);
        QCOMPARE(HistoryEntryRow::timeLabel(QDateTime(QDate(2026, 12, 6), QTime(0, 5), Qt::LocalTime).toUTC(), now),
                 QStringLiteral("今天 00:05"));
        QCOMPARE(HistoryEntryRow::timeLabel(QDateTime(QDate(2026, 12, 5), QTime(23, 59), Qt::LocalTime).toUTC(), now),
                 QStringLiteral("昨天 23:59"));
        QCOMPARE(HistoryEntryRow::timeLabel(QDateTime(QDate(2026, 11, 30), QTime(8, 0), Qt::LocalTime).toUTC(), now),
                 QStringLiteral("2026-11-30 08:00"));
    }

    void retention_pickerBindsThePreference()
    {
        AppRig rig;
        VoxleHistoryView view(*rig.state, *rig.historyStore, rig.pasteboard, rig.clock);
        QCOMPARE(view.retentionPicker()->currentText(), QStringLiteral("永远"));
        view.retentionPicker()->setCurrentIndex(view.retentionPicker()->findData(QStringLiteral("week1")));
        QCOMPARE(rig.state->preferences().historyRetention(), QStringLiteral("week1"));
        QCOMPARE(rig.defaults.string(QStringLiteral("history_retention")),
                 std::optional<QString>(QStringLiteral("week1")));
        rig.state->preferences().setHistoryRetention(QStringLiteral("hours24"));
        QCOMPARE(view.retentionPicker()->currentText(), QStringLiteral("24小时"));
    }
};

QTEST_MAIN(TestHistoryView)
#include "tst_HistoryView.moc"
