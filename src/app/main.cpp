#include "app/SingleInstance.h"
#include "app/VoxleApplication.h"
#include "platform/DesktopSession.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QTextStream>

namespace {
// The command a launch asks for; "show" when it asks for nothing.
std::optional<QJsonObject> commandFromArguments(const QCommandLineParser &parser, QString &error)
{
    if (parser.isSet(QStringLiteral("toggle")))
        return QJsonObject{{QStringLiteral("command"), QStringLiteral("toggle")}};
    if (parser.isSet(QStringLiteral("action"))) {
        const QString action = parser.value(QStringLiteral("action"));
        if (action != QStringLiteral("record") && action != QStringLiteral("polish") &&
            action != QStringLiteral("translate")) {
            error = QStringLiteral("--action takes record, polish or translate");
            return std::nullopt;
        }
        return QJsonObject{{QStringLiteral("command"), QStringLiteral("action")}, {QStringLiteral("action"), action}};
    }
    for (const char *name : {"cancel", "paste-last", "state"}) {
        if (parser.isSet(QString::fromLatin1(name)))
            return QJsonObject{{QStringLiteral("command"), QString::fromLatin1(name)}};
    }
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("show")}};
}
} // namespace

int main(int argc, char **argv)
{
    // Wayland lets no ordinary window stay above the others or place itself: the overlay needs both, so the
    // process is an X11 client through Xwayland, and a native Wayland window only where Xwayland is missing.
    if (currentDesktopSession() == DesktopSession::wayland && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Voxle"));
    QApplication::setApplicationDisplayName(QStringLiteral("言川 Voxle"));
    QApplication::setDesktopFileName(QStringLiteral("voxle"));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("言川 Voxle: voice dictation into any application"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("toggle"), QStringLiteral("Start dictation, or stop it and insert the text.")});
    parser.addOption({QStringLiteral("action"), QStringLiteral("Run a hotkey action: record, polish or translate."),
                      QStringLiteral("action")});
    parser.addOption({QStringLiteral("cancel"), QStringLiteral("Cancel the running dictation.")});
    parser.addOption({QStringLiteral("show"), QStringLiteral("Show the main window.")});
    parser.addOption({QStringLiteral("paste-last"), QStringLiteral("Insert the last result at the cursor again.")});
    parser.addOption({QStringLiteral("state"), QStringLiteral("Print the running instance's state as JSON.")});
    QCommandLineOption reportShown(QStringLiteral("report-shown"),
                                   QStringLiteral("Print a line once the main window is on screen (benchmarks)."));
    reportShown.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(reportShown);
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QString error;
    const std::optional<QJsonObject> command = commandFromArguments(parser, error);
    if (!command) {
        err << "voxle: " << error << '\n';
        return 2;
    }

    // A running instance does the work; this launch only delivers the command.
    if (const auto answer = SingleInstance::send(*command, 1000)) {
        out << QJsonDocument(*answer).toJson(QJsonDocument::Compact) << '\n';
        return answer->value(QStringLiteral("ok")).toBool() ? 0 : 1;
    }
    // Asking for the state of an instance that is not running starts nothing.
    if (command->value(QStringLiteral("command")).toString() == QStringLiteral("state")) {
        err << "voxle: not running\n";
        return 1;
    }

    VoxleApplication voxle;
    SingleInstance instance;
    if (!instance.listen([&voxle](const QJsonObject &c) { return voxle.handleCommand(c); })) {
        err << "voxle: another instance is starting; try again\n";
        return 1;
    }
    // A plain launch shows the main window; a launch that carries a command (a desktop shortcut's --toggle)
    // runs it without putting a window in the user's way.
    const bool show = command->value(QStringLiteral("command")).toString() == QStringLiteral("show");
    if (parser.isSet(reportShown)) {
        QObject::connect(&voxle, &VoxleApplication::mainWindowFirstPainted, &app,
                         [&out]() { out << "shown" << Qt::endl; });
    }
    voxle.start(show);
    if (!show)
        voxle.handleCommand(*command);
    return app.exec();
}
