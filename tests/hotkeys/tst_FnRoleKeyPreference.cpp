#include "hotkeys/FnRoleKeyPreference.h"
#include "platform/fake/FakeUserDefaults.h"

#include <QTest>

class TestFnRoleKeyPreference : public QObject
{
    Q_OBJECT
private slots:
    void readWrite_stableIdWithMenuForAnythingElse()
    {
        FakeUserDefaults d;
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        d.setNumber(QStringLiteral("fn_role_key"), 3);
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        d.setString(QStringLiteral("fn_role_key"), QStringLiteral("right ctrl"));
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        FnRoleKeyPreference::write(d, FnRoleKey::rightControl);
        QCOMPARE(d.values.value(QStringLiteral("fn_role_key")), QVariant(QStringLiteral("right_ctrl")));
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::rightControl);
    }
};

QTEST_GUILESS_MAIN(TestFnRoleKeyPreference)
#include "tst_FnRoleKeyPreference.moc"
