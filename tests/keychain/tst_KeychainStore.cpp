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
    void failures_throwKeychainErrorWithTheStoreStatus()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        store.save(QStringLiteral("kept"), QStringLiteral("k"));
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
        // A failed save or remove leaves the stored value as it was.
        QCOMPARE(fake.items.at({Voxle::applicationId(), QStringLiteral("k")}), QStringLiteral("kept"));
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_KeychainStore.moc"
