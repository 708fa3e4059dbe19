#include "platform/linux/JsonFileUserDefaults.h"
#include "support/CaseFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

namespace {
void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}
} // namespace

class TestJsonFileUserDefaults : public QObject
{
    Q_OBJECT

    CaseFolders m_cases;
    QString freshPath() { return m_cases.fresh(QStringLiteral("Voxle/settings.json")); }

private slots:
    void initTestCase() { QVERIFY(m_cases.isValid()); }

    void values_keepTheirTypesAcrossReloadAndRemovalsStick()
    {
        const QString path = freshPath();
        const QByteArray binding = QByteArray("{\"keyCode\":49,\"modifiersRawValue\":1}");
        const QByteArray binary("\x00\xff\x10 \"$data\"", 12);
        {
            JsonFileUserDefaults defaults(path);
            QVERIFY(!QFile::exists(path)); // nothing written until the first change
            defaults.setBool(QStringLiteral("polish_enabled"), false);
            defaults.setBool(QStringLiteral("use_proxy"), true);
            defaults.setString(QStringLiteral("looks_like_bool"), QStringLiteral("true"));
            defaults.setData(QStringLiteral("hotkey_record_binding_json"), binding);
            defaults.setData(QStringLiteral("binary"), binary);
            defaults.setData(QStringLiteral("empty_data"), QByteArray());
            defaults.setNumber(QStringLiteral("gain"), 1.5);
            defaults.setData(QStringLiteral("hotkey_polish_binding_json"), QByteArray("{}"));
            defaults.remove(QStringLiteral("hotkey_polish_binding_json"));
            defaults.remove(QStringLiteral("not_there"));
        }
        JsonFileUserDefaults reloaded(path);
        QCOMPARE(reloaded.boolean(QStringLiteral("polish_enabled")), false);
        QCOMPARE(reloaded.boolean(QStringLiteral("use_proxy")), true);
        // Strings stay strings and data stays data, however they look.
        QCOMPARE(reloaded.boolean(QStringLiteral("looks_like_bool")), std::nullopt);
        QCOMPARE(reloaded.string(QStringLiteral("looks_like_bool")), QStringLiteral("true"));
        QCOMPARE(reloaded.data(QStringLiteral("hotkey_record_binding_json")), binding);
        QCOMPARE(reloaded.string(QStringLiteral("hotkey_record_binding_json")), std::nullopt);
        QCOMPARE(reloaded.data(QStringLiteral("binary")), binary);
        QCOMPARE(reloaded.data(QStringLiteral("empty_data")), QByteArray());
        QCOMPARE(reloaded.object(QStringLiteral("gain")).typeId(), QMetaType::Double);
        QCOMPARE(reloaded.object(QStringLiteral("gain")).toDouble(), 1.5);
        QVERIFY(!reloaded.contains(QStringLiteral("hotkey_polish_binding_json")));

        // On disk: Booleans as JSON Booleans, data tagged.
        const QJsonObject onDisk = QJsonDocument::fromJson(readFile(path)).object();
        QVERIFY(onDisk.value(QStringLiteral("use_proxy")).isBool());
        QCOMPARE(onDisk.value(QStringLiteral("hotkey_record_binding_json")).toObject(),
                 QJsonObject({{QStringLiteral("$data"), QString::fromLatin1(binding.toBase64())}}));
    }

    void write_isOwnerOnlyAtomicAndKeepsForeignEntries()
    {
        const QString path = freshPath();
        writeFile(path, R"({"other_tool": [1, 2, 3], "broken_data": {"$data": "***"}})");
        JsonFileUserDefaults defaults(path);
        QVERIFY(!defaults.contains(QStringLiteral("other_tool")));
        QVERIFY(!defaults.contains(QStringLiteral("broken_data")));
        defaults.setString(QStringLiteral("history_retention"), QStringLiteral("week1"));

        QCOMPARE(modeOf(path), 0600);
        const QStringList files = QFileInfo(path).absoluteDir().entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files, QStringList{QStringLiteral("settings.json")}); // no temporary file left behind
        const QJsonObject onDisk = QJsonDocument::fromJson(readFile(path)).object();
        QCOMPARE(onDisk.value(QStringLiteral("other_tool")).toArray().size(), 3);
        QCOMPARE(onDisk.value(QStringLiteral("history_retention")).toString(), QStringLiteral("week1"));

        const QString fresh = freshPath();
        JsonFileUserDefaults created(fresh);
        created.setBool(QStringLiteral("polish_enabled"), true);
        QCOMPARE(modeOf(QFileInfo(fresh).absolutePath()), 0700);
        QCOMPARE(modeOf(fresh), 0600);
    }

    // Truncated, not an object, empty, not UTF-8.
    void corruptFile_isMovedAsideWithALogLineAndReadsEmpty()
    {
        for (const QByteArray &content : {QByteArray(R"({"use_proxy": tru)"), QByteArray(R"(["use_proxy", true])"),
                                          QByteArray(), QByteArray("{\"k\": \"\xff\xfe\"}")}) {
            const QString path = freshPath();
            writeFile(path, content);
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression(QStringLiteral("^\\[UserDefaults\\] unreadable settings file .*moved aside to .*")));
            JsonFileUserDefaults defaults(path);
            QVERIFY(!defaults.contains(QStringLiteral("use_proxy")));
            QVERIFY(!QFile::exists(path));

            const QDir dir = QFileInfo(path).absoluteDir();
            const QStringList aside = dir.entryList({QStringLiteral("settings.json.corrupt-*")}, QDir::Files);
            QCOMPARE(aside.size(), 1);
            QCOMPARE(readFile(dir.filePath(aside.first())), content); // never lost

            defaults.setBool(QStringLiteral("use_proxy"), false);
            QCOMPARE(JsonFileUserDefaults(path).boolean(QStringLiteral("use_proxy")), false);
            QCOMPARE(readFile(dir.filePath(aside.first())), content);
        }
    }
};

QTEST_GUILESS_MAIN(TestJsonFileUserDefaults)
#include "tst_JsonFileUserDefaults.moc"
