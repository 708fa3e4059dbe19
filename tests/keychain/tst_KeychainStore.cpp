#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "platform/fake/FakeSecretStore.h"

#include <QTest>

// The status rules over a store that fails on demand; the round trips run against the real Secret Service in
// tst_LibsecretSecretStore.
class TestKeychainStore : public QObject
{
    Q_OBJECT
private slots:
    void failures_throwTheStoreStatusAndAreNotRemembered()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        fake.items[{Voxle::applicationId(), QStringLiteral("k")}] = QStringLiteral("kept");
        fake.failReadWith = -25291;
        fake.failSaveWith = -26276;
        fake.failRemoveWith = 5;

        auto statusOf = [](auto &&call) {
            try {
                call();
            } catch (const KeychainError &error) {
                return error.status;
            }
            return 0;
        };
        QCOMPARE(statusOf([&] { store.read(QStringLiteral("k")); }), -25291);
        QCOMPARE(statusOf([&] { store.save(QStringLiteral("new"), QStringLiteral("k")); }), -26276);
        QCOMPARE(statusOf([&] { store.remove(QStringLiteral("k")); }), 5);
        // A failed save or remove leaves the stored value as it was, and a failed read is asked again.
        fake.failReadWith = 0;
        QCOMPARE(store.read(QStringLiteral("k")), std::optional(QStringLiteral("kept")));
    }

    // After the first answer a key is served from memory: no store call on the hotkey path.
    void reads_areAnsweredFromMemoryAfterTheFirst()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        QCOMPARE(store.read(QStringLiteral("absent")), std::nullopt);
        store.save(QStringLiteral("v1"), QStringLiteral("k"));
        fake.calls.clear();
        fake.failReadWith = -25291;
        QCOMPARE(store.read(QStringLiteral("absent")), std::nullopt);
        QCOMPARE(store.read(QStringLiteral("k")), std::optional(QStringLiteral("v1")));
        store.remove(QStringLiteral("k"));
        QCOMPARE(store.read(QStringLiteral("k")), std::nullopt);
        QCOMPARE(fake.calls, QStringList{QStringLiteral("remove %1 k").arg(Voxle::applicationId())});
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_KeychainStore.moc"
