#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "platform/fake/FakeSecretStore.h"

#include <QTest>

class TestKeychainStore : public QObject
{
    Q_OBJECT
private slots:
    void read_neverSaved_returnsNoValueWithoutError()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        QCOMPARE(store.read(QStringLiteral("dashscope_api_key")), std::nullopt);
        QCOMPARE(fake.calls, QStringList{QStringLiteral("read app.voxle.desktop dashscope_api_key")});
    }

    void save_usesApplicationIdAsServiceAndKeyAsAccount()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        store.save(QStringLiteral("sk-1"), QStringLiteral("voxle_auth_token"));
        store.save(QStringLiteral("sk-2"), QStringLiteral("voxle_auth_token"));
        QCOMPARE(fake.items.size(), size_t(1));
        QCOMPARE(fake.items.at({Voxle::applicationId(), QStringLiteral("voxle_auth_token")}), QStringLiteral("sk-2"));
        QCOMPARE(store.read(QStringLiteral("voxle_auth_token")), QStringLiteral("sk-2"));
    }

    void remove_missingKey_succeeds()
    {
        FakeSecretStore fake;
        KeychainStore store(fake);
        store.remove(QStringLiteral("nothing_here"));
        store.save(QStringLiteral("v"), QStringLiteral("k"));
        store.remove(QStringLiteral("k"));
        QCOMPARE(store.read(QStringLiteral("k")), std::nullopt);
    }

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
