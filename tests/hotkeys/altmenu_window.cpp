// A window whose menu bar takes the keyboard when Alt is tapped alone (as under the Windows style), standing
// for the applications where a bare Alt tap opens the menu. It reports on standard output: "ready" once it
// has the focus, "menubar" whenever the menu bar takes the keyboard, "key <X key code>" for every key press it
// gets, and "text <contents>" for its field.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <functional>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("&Quit"));
    auto *field = new QLineEdit(&window);
    window.setCentralWidget(field);
    auto say = [](const QString &line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };
    QObject::connect(&app, &QApplication::focusChanged, &app, [&](QWidget *, QWidget *now) {
        if (now == window.menuBar())
            say(QStringLiteral("menubar"));
    });
    struct KeyWatch : QObject {
        std::function<void(const QString &)> say;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::KeyPress && watched->isWindowType())
                say(QStringLiteral("key %1").arg(static_cast<QKeyEvent *>(event)->nativeScanCode()));
            return false;
        }
    } watch;
    watch.say = say;
    app.installEventFilter(&watch);
    QObject::connect(field, &QLineEdit::textChanged, &app,
                     [&](const QString &text) { say(QStringLiteral("text ") + text); });
    window.resize(300, 120);
    window.show();
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, &app, [&] {
        if (field->hasFocus() && window.isActiveWindow()) {
            ready.stop();
            say(QStringLiteral("ready"));
        } else {
            window.activateWindow();
            field->setFocus();
        }
    });
    ready.start(50);
    return app.exec();
}
