#include "hotkeys/FnRoleKeyPreference.h"

#include <QHash>
#include <QTest>

namespace {
class MapDefaults final : public UserDefaults
{
public:
    QHash<QString, QVariant> values;
    QVariant object(const QString &key) const override { return values.value(key); }
    void setBool(const QString &key, bool value) override { values.insert(key, value); }
    void setString(const QString &key, const QString &value) override { values.insert(key, value); }
    void setData(const QString &key, const QByteArray &value) override { values.insert(key, value); }
    void setNumber(const QString &key, double value) override { values.insert(key, value); }
    void remove(const QString &key) override { values.remove(key); }
};
} // namespace

class TestFnRoleKeyPreference : public QObject
{
    Q_OBJECT
private slots:
    void read_missingWrongTypeOrUnknown_givesMenu()
    {
        MapDefaults d;
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        d.setNumber(QStringLiteral("fn_role_key"), 3);
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        d.setString(QStringLiteral("fn_role_key"), QStringLiteral("right ctrl"));
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
    }

    void write_thenRead_roundTripsByStableId()
    {
        MapDefaults d;
        FnRoleKeyPreference::write(d, FnRoleKey::rightControl);
        QCOMPARE(d.values.value(QStringLiteral("fn_role_key")), QVariant(QStringLiteral("right_ctrl")));
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::rightControl);
    }
};

QTEST_GUILESS_MAIN(TestFnRoleKeyPreference)
#include "tst_FnRoleKeyPreference.moc"
