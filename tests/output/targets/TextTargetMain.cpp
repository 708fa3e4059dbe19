// Text targets in their own process for the injection tests, one per mode:
//   lineedit  a QLineEdit; prints "TEXT:<content>" after every change
//   plain     a focusable widget with no text interface that pastes on Ctrl+V: "PASTED:<clipboard text>"
//   terminal  a widget with the terminal role that pastes on Ctrl+Shift+V only; a bare Ctrl+V prints "RAW:^V"
//   xterm     the same without the role, known as a terminal by its window class only (run with RESOURCE_NAME)
//   owner     owns the clipboard with the text of argv[2] and the PNG file argv[3], prints "OWNED"
// Every mode prints "FOCUSED" once its widget holds the keyboard focus.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
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
    PasteTarget(bool terminal, bool terminalRole) : m_terminal(terminal), m_terminalRole(terminalRole)
    {
        setFocusPolicy(Qt::StrongFocus);
        setObjectName(terminal ? QStringLiteral("terminal") : QStringLiteral("plain"));
    }
    bool hasTerminalRole() const { return m_terminalRole; }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_V || !(event->modifiers() & Qt::ControlModifier))
            return;
        const bool shifted = event->modifiers() & Qt::ShiftModifier;
        if (shifted == m_terminal)
            say(QStringLiteral("PASTED:") + QApplication::clipboard()->text());
        else
            say(shifted ? QStringLiteral("RAW:^V+shift") : QStringLiteral("RAW:^V"));
    }
    void focusInEvent(QFocusEvent *) override { say(QStringLiteral("FOCUSED")); }

private:
    bool m_terminal;
    bool m_terminalRole;
};

QAccessibleInterface *terminalFactory(const QString &className, QObject *object)
{
    Q_UNUSED(className);
    auto *target = dynamic_cast<PasteTarget *>(object);
    if (target && target->hasTerminalRole())
        return new QAccessibleWidget(target, QAccessible::Terminal);
    return nullptr;
}

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
    const QString mode = args.value(1, QStringLiteral("lineedit"));
    QAccessible::installFactory(terminalFactory);

    QWidget window;
    window.setWindowTitle(QStringLiteral("voxle text target ") + mode);
    window.resize(600, 80);
    auto *layout = new QVBoxLayout(&window);
    QWidget *focus = nullptr;
    if (mode == QLatin1String("lineedit")) {
        auto *edit = new LineEdit;
        edit->setText(args.value(2));
        QObject::connect(edit, &QLineEdit::textChanged, edit,
                         [](const QString &t) { say(QStringLiteral("TEXT:") + t); });
        focus = edit;
    } else if (mode == QLatin1String("plain") || mode == QLatin1String("terminal") || mode == QLatin1String("xterm")) {
        focus = new PasteTarget(mode != QLatin1String("plain"), mode == QLatin1String("terminal"));
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
