// inject: 1,000 characters of mixed Chinese and ASCII into a GTK entry in another process, through the text
// injection service (AT-SPI) and, for comparison, typed by `xdotool type`. Run under the test desktop.
#include "BenchRegistry.h"

#include "base/SystemClock.h"
#include "output/TextInjectionService.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/QtClipboardPasteboard.h"
#include "platform/linux/XTestKeySynth.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

namespace {

const char kGtkEntryScript[] = R"(
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
w = Gtk.Window(title="voxle bench entry")
w.set_default_size(900, 80)
e = Gtk.Entry()
w.add(e)
w.connect("destroy", Gtk.main_quit)
w.show_all()
w.present()
e.grab_focus()
Gtk.main()
)";

QString benchText()
{
    const QString chinese = QStringLiteral("言川语音输入把说的话变成文字");
    const QString ascii = QStringLiteral("Voxle dictation 2026 ");
    QString text;
    for (int i = 0; text.size() < 1000; ++i)
        text += (i % 2 ? ascii : chinese);
    text.truncate(1000);
    if (text.back().isSpace())
        text.back() = QLatin1Char('x');
    return text;
}

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Waits until the focused field reads back a value that stops changing; returns it.
QString settledValue(AtspiAccessibility &ax, const QString &expected, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QString last;
    while (t.elapsed() < timeoutMs) {
        const auto element = ax.focusedElement();
        last = element ? element->value().value_or(QString()) : QString();
        if (last == expected)
            return last;
        spin(50);
    }
    return last;
}

bool clearField(AtspiAccessibility &ax)
{
    const auto element = ax.focusedElement();
    return element && element->setValue(QString()) && element->value() == QString();
}

int benchInject(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int runs = args.value(0, QStringLiteral("7")).toInt();
    const int xdotoolRuns = args.value(1, QStringLiteral("3")).toInt();

    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("entry.py"));
    {
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(kGtkEntryScript);
    }
    QProcess entry;
    entry.setProcessChannelMode(QProcess::ForwardedChannels);
    entry.start(QStringLiteral("/usr/bin/python3"), {script});

    SystemClock clock;
    XTestKeySynth keys;
    AtspiAccessibility ax([&keys]() { return keys.focusedWindowPid(); });
    QtClipboardPasteboard pasteboard;
    TextInjectionService service(ax, pasteboard, keys, clock);
    if (!service.isAccessibilityTrusted())
        service.requestAccessibilityTrust();

    QElapsedTimer wait;
    wait.start();
    while (!(ax.focusedElement() && ax.focusedElement()->value()) && wait.elapsed() < 15000)
        spin(50);
    if (!ax.focusedElement()) {
        err << "inject: the GTK entry never took the focus (run under the test desktop)\n";
        entry.kill();
        entry.waitForFinished();
        return 1;
    }

    const QString text = benchText();
    std::vector<double> atspiMs;
    bool atspiExact = true;
    for (int i = 0; i < runs; ++i) {
        clearField(ax);
        const qint64 clipboardBefore = pasteboard.changeCount();
        QElapsedTimer t;
        t.start();
        service.injectAtCursor(text);
        atspiMs.push_back(t.nsecsElapsed() / 1e6);
        // A paste fallback would show up as a clipboard change: that is not the path being measured.
        spin(TextInjectionService::pasteDelayMs + TextInjectionService::restoreDelayMs + 50);
        atspiExact = atspiExact && pasteboard.changeCount() == clipboardBefore && settledValue(ax, text, 2000) == text;
    }

    std::vector<double> xdotoolMs;
    bool xdotoolExact = xdotoolRuns > 0;
    for (int i = 0; i < xdotoolRuns; ++i) {
        clearField(ax);
        QElapsedTimer t;
        t.start();
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--"), text});
        xdotool.waitForFinished(300000);
        const double sentMs = t.nsecsElapsed() / 1e6;
        // Counted until the entry holds the whole text, or until xdotool ended when it never does.
        const QString typed = settledValue(ax, text, 3000);
        xdotoolMs.push_back(typed == text ? t.nsecsElapsed() / 1e6 : sentMs);
        xdotoolExact = xdotoolExact && typed == text;
    }

    entry.kill();
    entry.waitForFinished();
    out << "inject_atspi_ms_1000=" << QString::number(benchMedian(atspiMs), 'f', 2) << '\n';
    out << "inject_xdotool_ms_1000=" << QString::number(benchMedian(xdotoolMs), 'f', 1) << '\n';
    out << "inject_exact=" << (atspiExact ? 1 : 0) << '\n';
    out << "xdotool_exact=" << (xdotoolExact ? 1 : 0) << '\n';
    return 0;
}

BenchRegistrar reg("inject", benchInject);

} // namespace
