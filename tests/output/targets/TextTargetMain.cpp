// Text targets in their own process for the injection tests, one per mode:
//   lineedit  a QLineEdit; prints "TEXT:<content>" after every change
//   plain     a focusable widget with no text interface that pastes on Ctrl+V with no other modifier:
//             "PASTED:<clipboard text>", read argv[2] ms after the key (as busy applications do); any other
//             chord with V prints "RAW:<modifiers>"
//   terminal  a widget with the terminal role that pastes on Ctrl+Shift+V only
//   owner     owns the clipboard with the text of argv[2] and the PNG file argv[3], prints "OWNED"
//   menu      a lineedit under a menu bar that takes the keyboard when Alt is tapped alone (the Windows style),
//             as in many applications; prints "MENUBAR" when it does and "KEY:<X key code>" for every key press
// Every mode prints "FOCUSED" once its widget holds the keyboard focus.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QStyleFactory>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

class PasteTarget : public QWidget
{
public:
    PasteTarget(bool terminal, int readDelayMs) : m_terminal(terminal), m_readDelayMs(readDelayMs)
    {
        setFocusPolicy(Qt::StrongFocus);
    }
    bool hasTerminalRole() const { return m_terminal; }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_V)
            return;
        const Qt::KeyboardModifiers wanted =
            m_terminal ? (Qt::ControlModifier | Qt::ShiftModifier) : Qt::KeyboardModifiers(Qt::ControlModifier);
        const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
        if (mods != wanted) {
            say(QStringLiteral("RAW:%1").arg(int(mods), 0, 16));
            return;
        }
        QTimer::singleShot(m_readDelayMs, this,
                           []() { say(QStringLiteral("PASTED:") + QApplication::clipboard()->text()); });
    }
    void focusInEvent(QFocusEvent *) override { say(QStringLiteral("FOCUSED")); }

private:
    bool m_terminal;
    int m_readDelayMs;
};

QAccessibleInterface *terminalFactory(const QString &className, QObject *object)
{
    Q_UNUSED(className);
    auto *target = dynamic_cast<PasteTarget *>(object);
    if (target && target->hasTerminalRole())
        return new QAccessibleWidget(target, QAccessible::Terminal);
    return nullptr;
}

class KeyReporter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && watched->isWindowType())
            say(QStringLiteral("KEY:%1").arg(static_cast<QKeyEvent *>(event)->nativeScanCode()));
        return false;
    }
};

class LineEdit : public QLineEdit
{
protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QLineEdit::focusInEvent(event);
        deselect();
        end(false);
        say(QStringLiteral("FOCUSED"));
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    QAccessible::installFactory(terminalFactory);

    QWidget window;
    window.resize(600, 80);
    auto *layout = new QVBoxLayout(&window);
    QWidget *focus = nullptr;
    if (mode == QLatin1String("menu")) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
        auto *bar = new QMenuBar;
        bar->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("&Quit"));
        layout->setMenuBar(bar);
        QObject::connect(&app, &QApplication::focusChanged, bar, [bar](QWidget *, QWidget *now) {
            if (now == bar)
                say(QStringLiteral("MENUBAR"));
        });
        app.installEventFilter(new KeyReporter(&app));
    }
    if (mode == QLatin1String("lineedit") || mode == QLatin1String("menu")) {
        auto *edit = new LineEdit;
        edit->setText(args.value(2));
        QObject::connect(edit, &QLineEdit::textChanged, edit,
                         [](const QString &t) { say(QStringLiteral("TEXT:") + t); });
        focus = edit;
    } else if (mode == QLatin1String("plain") || mode == QLatin1String("terminal")) {
        focus = new PasteTarget(mode == QLatin1String("terminal"), args.value(2).toInt());
    } else if (mode == QLatin1String("owner")) {
        QFile png(args.value(3));
        if (!png.open(QIODevice::ReadOnly))
            return 2;
        auto *data = new QMimeData;
        data->setText(args.value(2));
        data->setData(QStringLiteral("image/png"), png.readAll());
        QApplication::clipboard()->setMimeData(data);
        say(QStringLiteral("OWNED"));
        return app.exec();
    } else {
        return 2;
    }
    layout->addWidget(focus);
    window.show();
    window.activateWindow();
    focus->setFocus();
    return app.exec();
}
