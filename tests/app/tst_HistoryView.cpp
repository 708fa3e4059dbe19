#include "AppRig.h"
#include "app/pages/HistoryEntryRow.h"
#include "app/pages/VoxleHistoryView.h"
#include "history/VoxleHistoryRetention.h"

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
    void list_filterRefreshCopyDelete()
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

        const QList<std::pair<Filter, QStringList>> filters{{Filter::polish, {QStringLiteral("第二条")}},
                                                            {Filter::translate, {QStringLiteral("third")}},
                                                            {Filter::all, outputs(view)}};
        for (const auto &[filter, listed] : filters) {
            view.filterButton(filter)->click();
            QCOMPARE(view.filter(), filter);
            QVERIFY(loaded.wait(5000));
            QCOMPARE(outputs(view), listed);
        }

        // Rows added elsewhere appear on "刷新".
        rig.historyStore->insert(Kind::record, QString(), QStringLiteral("新的一条"), now);
        view.refreshButton()->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view).first(), QStringLiteral("新的一条"));

        // Copy and delete on the first row are driven on screen by the user-journey test; here another row.
        view.rows().at(2)->copyButton()->click();
        QCOMPARE(rig.pasteboard.string(), std::optional<QString>(QStringLiteral("第二条")));
        view.rows().at(2)->deleteButton()->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view),
                 (QStringList{QStringLiteral("新的一条"), QStringLiteral("third"), QStringLiteral("第一条")}));
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

    void rows_timeLabels()
    {
        const QDateTime now(QDate(2026, 12, 6), QTime(15, 30), Qt::LocalTime);
        const QList<std::tuple<QDate, QTime, const char *>> times{{{2026, 12, 6}, {0, 5}, "今天 00:05"},
                                                                  {{2026, 12, 5}, {23, 59}, "昨天 23:59"},
                                                                  {{2026, 11, 30}, {8, 0}, "2026-11-30 08:00"}};
        for (const auto &[date, time, label] : times)
            QCOMPARE(HistoryEntryRow::timeLabel(QDateTime(date, time, Qt::LocalTime).toUTC(), now),
                     QString::fromUtf8(label));
    }

    void retention_pickerBindsThePreferenceAndTheListFollowsTheDeletion()
    {
        AppRig rig;
        const QDateTime now = rig.clock.now();
        rig.historyStore->insert(Kind::record, QString(), QStringLiteral("三天前"), now.addDays(-3));
        rig.historyStore->insert(Kind::record, QString(), QStringLiteral("刚才"), now);
        VoxleHistoryView view(*rig.state, *rig.historyStore, rig.pasteboard, rig.clock);
        QSignalSpy loaded(&view, &VoxleHistoryView::loaded);
        view.show();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), (QStringList{QStringLiteral("刚才"), QStringLiteral("三天前")}));
        QCOMPARE(view.retentionPicker()->currentText(), QStringLiteral("永远"));

        // Chosen by what the user reads in the picker.
        view.retentionPicker()->setCurrentIndex(view.retentionPicker()->findText(QStringLiteral("24小时")));
        QCOMPARE(rig.state->preferences().historyRetention(), VoxleHistoryRetention::hours24);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), QStringList{QStringLiteral("刚才")});

        rig.state->preferences().setHistoryRetention(VoxleHistoryRetention::week1);
        QCOMPARE(view.retentionPicker()->currentText(), QStringLiteral("1周"));
    }
};

QTEST_MAIN(TestHistoryView)
#include "tst_HistoryView.moc"
