#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "platform/linux/LibsecretSecretStore.h"

#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUuid>

// Runs against the Secret Service of the headless desktop (gnome-keyring-daemon).
class TestLibsecretSecretStore : public QObject
{
    Q_OBJECT

    LibsecretSecretStore m_backend;
    KeychainStore m_store{m_backend};
    // A run-unique prefix keeps concurrent or leftover runs apart in the shared keyring.
    const QString m_prefix = QStringLiteral("test_%1_").arg(QUuid::createUuid().toString(QUuid::Id128));

    QString key(const char *name) const { return m_prefix + QString::fromLatin1(name); }

    // What another program sees under the same attributes.
    static QString secretToolLookup(const QString &account)
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("service"),
                                                   Voxle::applicationId(), QStringLiteral("account"), account});
        if (!tool.waitForFinished(10000))
            return QStringLiteral("<secret-tool timed out>");
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
                 "needs the headless desktop's session bus with gnome-keyring (scripts/lib/desktop.sh)");
    }

    void cleanupTestCase()
    {
        for (const char *name : {"round", "overwrite", "reentry", "bytes"})
            m_backend.remove(Voxle::applicationId(), key(name));
    }

    void saveAndRead_chineseText_roundTrips()
    {
        const QString value = QStringLiteral("言川 Voxle 密钥 sk-测试\n第二行 ✓");
        m_store.save(value, key("round"));
        QCOMPARE(m_store.read(key("round")), value);
        // Stored under service = application id, account = key, as UTF-8.
        QCOMPARE(secretToolLookup(key("round")), value);
    }

    void overwriteAndRemove_missingKeyIsNotAnError()
    {
        QCOMPARE(m_store.read(key("overwrite")), std::nullopt);
        m_store.remove(key("overwrite"));
        m_store.save(QStringLiteral("first"), key("overwrite"));
        m_store.save(QStringLiteral("second"), key("overwrite"));
        QCOMPARE(m_store.read(key("overwrite")), QStringLiteral("second"));
        m_store.remove(key("overwrite"));
        m_store.remove(key("overwrite"));
        QCOMPARE(m_store.read(key("overwrite")), std::nullopt);
    }

    // Bytes written by another program that are not whole UTF-8 text are no value, not a shortened one.
    void read_cutOrInvalidUtf8IsNoValue_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("cut inside a character") << QByteArray("sk-\xe8\xa8");
        QTest::newRow("not UTF-8") << QByteArray("sk-\xff\xfe-key");
    }
    void read_cutOrInvalidUtf8IsNoValue()
    {
        QFETCH(QByteArray, bytes);
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"), {QStringLiteral("store"), QStringLiteral("--label=voxle test"),
                                                   QStringLiteral("service"), Voxle::applicationId(),
                                                   QStringLiteral("account"), key("bytes")});
        QVERIFY(tool.waitForStarted(10000));
        tool.write(bytes);
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished(10000) && tool.exitCode() == 0);
        const SecretStore::Result result = m_backend.read(Voxle::applicationId(), key("bytes"));
        QCOMPARE(result.status, 0);
        QCOMPARE(result.value, std::nullopt);
    }

    void calls_doNotRunQueuedQtEvents()
    {
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        m_store.save(QStringLiteral("x"), key("reentry"));
        QCOMPARE(m_store.read(key("reentry")), QStringLiteral("x"));
        m_store.remove(key("reentry"));
        QVERIFY2(!ran, "a secret-store call ran the Qt event loop");
        QTRY_VERIFY(ran);
    }
};

QTEST_GUILESS_MAIN(TestLibsecretSecretStore)
#include "tst_LibsecretSecretStore.moc"
