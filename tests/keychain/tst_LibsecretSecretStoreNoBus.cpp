#include "core/KeychainStore.h"
#include "platform/linux/LibsecretSecretStore.h"

#include <QElapsedTimer>
#include <QTest>
#include <functional>

// Started with DBUS_SESSION_BUS_ADDRESS naming a socket nobody listens on, before any libsecret call.
class TestLibsecretSecretStoreNoBus : public QObject
{
    Q_OBJECT
private slots:
    void everyCall_failsFastWithAStatus()
    {
        LibsecretSecretStore backend;
        KeychainStore store(backend);
        const QString key = QStringLiteral("dashscope_api_key");

        const QList<std::pair<const char *, std::function<void()>>> calls{
            {"read", [&] { store.read(key); }},
            {"save", [&] { store.save(QStringLiteral("sk"), key); }},
            {"remove", [&] { store.remove(key); }}};
        for (const auto &[name, call] : calls) {
            QElapsedTimer timer;
            timer.start();
            int status = 0;
            try {
                call();
            } catch (const KeychainError &error) {
                status = error.status;
            }
            QCOMPARE(status, LibsecretSecretStore::kStatusUnavailable);
            QVERIFY2(timer.elapsed() < 1000,
                     qPrintable(QStringLiteral("%1 took %2 ms").arg(QLatin1String(name)).arg(timer.elapsed())));
        }
        // A failed read carries no value, so callers that count failures as absent see nothing stale.
        const SecretStore::Result raw = backend.read(QStringLiteral("app.voxle.desktop"), key);
        QCOMPARE(raw.status, LibsecretSecretStore::kStatusUnavailable);
        QVERIFY(!raw.value);
    }
};

QTEST_GUILESS_MAIN(TestLibsecretSecretStoreNoBus)
#include "tst_LibsecretSecretStoreNoBus.moc"
