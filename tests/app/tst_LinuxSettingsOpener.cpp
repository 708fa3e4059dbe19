// The settings opener starts the desktop's settings program on the matching panel; here a stand-in program on
// the PATH records how it was started.
#include "platform/linux/LinuxSettingsOpener.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestLinuxSettingsOpener : public QObject
{
    Q_OBJECT

    QTemporaryDir bin;
    QByteArray savedPath;

    void installStandIn(const QString &name)
    {
        QFile script(bin.filePath(name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"${0##*/} $*\" >> \"" + bin.filePath(QStringLiteral("calls")).toUtf8() + "\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QStringList calls() const
    {
        QFile file(bin.filePath(QStringLiteral("calls")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        // The opener does not wait for the programs it starts: they may write in any order.
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        lines.sort();
        return lines;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(bin.isValid());
        savedPath = qgetenv("PATH");
        // Only the stand-ins (and the shell they need) are found.
        qputenv("PATH", bin.path().toUtf8() + ":/bin:/usr/bin");
    }
    void cleanupTestCase() { qputenv("PATH", savedPath); }

    // GNOME's settings first, on the matching panel; else KDE's.
    void open_startsTheDesktopsSettingsOnThePanel()
    {
        installStandIn(QStringLiteral("gnome-control-center"));
        installStandIn(QStringLiteral("systemsettings"));
        LinuxSettingsOpener opener;
        opener.open(SettingsOpener::Pane::accessibility);
        opener.open(SettingsOpener::Pane::microphone);
        QTRY_COMPARE(calls(), (QStringList{QStringLiteral("gnome-control-center sound"),
                                           QStringLiteral("gnome-control-center universal-access")}));

        QFile::remove(bin.filePath(QStringLiteral("calls")));
        QFile::remove(bin.filePath(QStringLiteral("gnome-control-center")));
        opener.open(SettingsOpener::Pane::inputMonitoring);
        QTRY_COMPARE(calls(), QStringList{QStringLiteral("systemsettings kcm_keyboard")});
    }
};

QTEST_GUILESS_MAIN(TestLinuxSettingsOpener)
#include "tst_LinuxSettingsOpener.moc"
