#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "platform/linux/LibsecretSecretStore.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUuid>

namespace {
const QString kLogin = QStringLiteral("/org/freedesktop/secrets/collection/login");
} // namespace

// Runs against the Secret Service of the headless desktop (gnome-keyring-daemon).
class TestLibsecretSecretStore : public QObject
{
    Q_OBJECT

    LibsecretSecretStore m_backend;
    KeychainStore m_store{m_backend};
    // A run-unique prefix keeps concurrent or leftover runs apart in the shared keyring.
    const QString m_prefix = QStringLiteral("test_%1_").arg(QUuid::createUuid().toString(QUuid::Id128));

    QString key(const char *name) const { return m_prefix + QString::fromLatin1(name); }

    // Another program on the same attributes: `secret-tool <args>` for `account`, fed `input`; what it printed and
    // its exit code.
    static std::pair<QString, int> secretTool(QStringList args, const QString &account, const QByteArray &input = {})
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
                   args << QStringLiteral("service") << Voxle::applicationId() << QStringLiteral("account") << account);
        tool.write(input);
        tool.closeWriteChannel();
        if (!tool.waitForFinished(10000))
            return {QStringLiteral("<secret-tool timed out>"), -1};
        return {QString::fromUtf8(tool.readAllStandardOutput()), tool.exitCode()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
                 "needs the headless desktop's session bus with gnome-keyring (scripts/lib/desktop.sh)");
    }

    void cleanupTestCase()
    {
        for (const char *name : {"round", "bytes", "locked", "new-while-locked"})
            m_backend.remove(Voxle::applicationId(), key(name));
    }

    // No call runs the Qt event loop: a wake-up queued before them runs only afterwards.
    void saveReadOverwriteRemove_missingKeyIsNotAnErrorAndNoEventsRun()
    {
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        QCOMPARE(m_store.read(key("round")), std::nullopt);
        m_store.save(QStringLiteral("first"), key("round"));
        const QString value = QStringLiteral("言川 Voxle 密钥 sk-测试\n第二行 ✓");
        m_store.save(value, key("round"));
        QCOMPARE(m_store.read(key("round")), value);
        QVERIFY2(!ran, "a secret-store call ran the Qt event loop");
        QTRY_VERIFY(ran);
        // Stored under service = application id, account = key, as UTF-8.
        QCOMPARE(secretTool({QStringLiteral("lookup")}, key("round")).first, value);
        m_store.remove(key("round"));
        m_store.remove(key("round"));
        QCOMPARE(m_store.read(key("round")), std::nullopt);
        QCOMPARE(secretTool({QStringLiteral("lookup")}, key("round")).first, QString());
    }

    // Bytes written by another program that are not whole UTF-8 text are no value, not a shortened one.
    void read_cutOrInvalidUtf8IsNoValue()
    {
        // A character cut in half, and bytes that are not UTF-8 at all.
        for (const QByteArray &bytes : {QByteArray("sk-\xe8\xa8"), QByteArray("sk-\xff\xfe-key")}) {
            const QStringList store{QStringLiteral("store"), QStringLiteral("--label=voxle test")};
            QCOMPARE(secretTool(store, key("bytes"), bytes).second, 0);
            const SecretStore::Result result = m_backend.read(Voxle::applicationId(), key("bytes"));
            QCOMPARE(result.status, 0);
            QCOMPARE(result.value, std::nullopt);
        }
    }

    // A locked keyring is reported at once as locked, never by a password prompt that waits for an answer.
    void lockedKeyring_reportedAtOnceWithoutPrompt()
    {
        m_store.save(QStringLiteral("x"), key("locked"));
        QDBusInterface service(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                               QStringLiteral("org.freedesktop.Secret.Service"));
        QVERIFY(
            service.call(QStringLiteral("Lock"), QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kLogin)}))
                .type() == QDBusMessage::ReplyMessage);
        QElapsedTimer timer;
        timer.start();
        const QString id = Voxle::applicationId();
        QCOMPARE(m_backend.read(id, key("locked")).status, LibsecretSecretStore::kStatusLocked);
        QCOMPARE(m_backend.save(id, key("locked"), QStringLiteral("y")).status, LibsecretSecretStore::kStatusLocked);
        QCOMPARE(m_backend.save(id, key("new-while-locked"), QStringLiteral("y")).status,
                 LibsecretSecretStore::kStatusLocked);
        QCOMPARE(m_backend.remove(id, key("locked")).status, LibsecretSecretStore::kStatusLocked);
        QVERIFY2(timer.elapsed() < 5000, "a call waited for an unlock prompt");

        // Unlock again with the test keyring's password, as the desktop's login would: the secret goes as
        // (session, parameters, value, content type).
        const QDBusMessage opened = service.call(QStringLiteral("OpenSession"), QStringLiteral("plain"),
                                                 QVariant::fromValue(QDBusVariant(QString())));
        QDBusArgument master;
        master.beginStructure();
        master << opened.arguments().at(1).value<QDBusObjectPath>() << QByteArray() << QByteArray("voxle-test-keyring")
               << QStringLiteral("text/plain");
        master.endStructure();
        QDBusInterface internal(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                                QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"));
        const QDBusMessage unlocked =
            internal.call(QStringLiteral("UnlockWithMasterPassword"), QVariant::fromValue(QDBusObjectPath(kLogin)),
                          QVariant::fromValue(master));
        QVERIFY2(unlocked.type() == QDBusMessage::ReplyMessage, qPrintable(unlocked.errorMessage()));
        QCOMPARE(m_backend.read(id, key("locked")).value, std::optional(QStringLiteral("x")));
    }
};

QTEST_GUILESS_MAIN(TestLibsecretSecretStore)
#include "tst_LibsecretSecretStore.moc"
