#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "platform/fake/FakeSecretStore.h"

#include <QTest>

// The memory in front of the store, over a store that fails on demand; the statuses a failing store throws and
// the round trips run against the real backend in tst_LibsecretSecretStore*.
class TestKeychainStore : public QObject
{
    Q_OBJECT
private slots:
    // After the first answer a key is served from memory (no store call on the hotkey path); a failure is never
    // remembered and leaves the remembered value as it was.
    void reads_areAnsweredFromMemoryFailuresAreNot()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        fake.items[{Voxle::applicationId(), QStringLiteral("k")}] = QStringLiteral("kept");
        fake.failReadWith = -25291;
        QVERIFY_THROWS_EXCEPTION(KeychainError, store.read(QStringLiteral("k")));
        fake.failReadWith = 0;
        fake.failSaveWith = -26276;
        QVERIFY_THROWS_EXCEPTION(KeychainError, store.save(QStringLiteral("new"), QStringLiteral("k")));
        QCOMPARE(store.read(QStringLiteral("k")), std::optional(QStringLiteral("kept")));

        fake.failSaveWith = 0;
        QCOMPARE(store.read(QStringLiteral("absent")), std::nullopt);
        store.save(QStringLiteral("v1"), QStringLiteral("k"));
        fake.calls.clear();
        fake.failReadWith = -25291;
        fake.failRemoveWith = 5;
        QCOMPARE(store.read(QStringLiteral("absent")), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(KeychainError, store.remove(QStringLiteral("k")));
        QCOMPARE(store.read(QStringLiteral("k")), std::optional(QStringLiteral("v1")));
        fake.failRemoveWith = 0;
        store.remove(QStringLiteral("k"));
        QCOMPARE(store.read(QStringLiteral("k")), std::nullopt);
        const QString remove = QStringLiteral("remove %1 k").arg(Voxle::applicationId());
        QCOMPARE(fake.calls, (QStringList{remove, remove}));
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_KeychainStore.moc"
