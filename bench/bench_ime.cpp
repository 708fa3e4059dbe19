// ime: 1,000 characters of mixed Chinese, English and emoji through the input-method route (fcitx5 with the
// project's add-on from the build tree) into a GTK 3 entry in another process, timed from the call until the
// entry holds the whole text. Run under the test desktop; starts and stops its own fcitx5.
#include "BenchRegistry.h"

#include "../tests/ime/Fcitx5Server.h"
#include "../tests/ime/ImeProbe.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"

#include <QElapsedTimer>
#include <QTextStream>

namespace {

// 1,000 characters (code points), no white space at either end.
QString imeBenchText()
{
    const QStringList parts = {QStringLiteral("言川语音输入把说的话变成文字，"),
                               QStringLiteral("Voxle dictation 2026 "), QStringLiteral("😀👍"),
                               QStringLiteral("中文与English混排。")};
    QString text;
    int codePoints = 0;
    for (int i = 0; codePoints < 1000; ++i) {
        for (const char32_t c : parts[i % parts.size()].toUcs4()) {
            if (codePoints == 1000)
                break;
            text += QString::fromUcs4(&c, 1);
            ++codePoints;
        }
    }
    return text;
}

int benchIme(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int runs = args.value(0, QStringLiteral("9")).toInt();

    Fcitx5Server fcitx;
    if (!fcitx.waitReady()) {
        err << "ime: fcitx5 did not load the add-on (is it built? run under the test desktop)\n" << fcitx.log();
        return 1;
    }
    ImeProbe probe({{QStringLiteral("GTK_IM_MODULE"), QStringLiteral("fcitx")}});
    Fcitx5InputMethodCommit im;
    bool focused = QTest::qWaitFor([&]() { return probe.ready; }, 15000) && probe.focusX11Window();
    focused = focused && QTest::qWaitFor([&]() { return im.isFrameworkRunning(); }) &&
              probe.waitForImeFocus([&]() { return ImeProbe::reportsFocus(im); });
    if (!focused) {
        err << "ime: the GTK entry never got an fcitx5 input context with the focus\n";
        return 1;
    }

    const QString text = imeBenchText();
    std::vector<double> ms;
    bool exact = true;
    for (int i = 0; i < runs; ++i) {
        probe.send(QStringLiteral("clear"));
        (void)QTest::qWaitFor([&]() { return probe.text.value(QStringLiteral("main")).isEmpty(); });
        std::optional<InputMethodCommit::Outcome> outcome;
        QElapsedTimer t;
        t.start();
        im.commit(text, [&](InputMethodCommit::Outcome o) { outcome = o; });
        const bool arrived = QTest::qWaitFor([&]() { return probe.text.value(QStringLiteral("main")) == text; });
        ms.push_back(t.nsecsElapsed() / 1e6);
        (void)QTest::qWaitFor([&]() { return outcome.has_value(); });
        exact = exact && arrived && outcome == InputMethodCommit::Outcome::done;
    }
    out << "inject_ime_ms_1000=" << QString::number(benchMedian(ms), 'f', 2) << '\n';
    out << "inject_ime_exact=" << (exact ? 1 : 0) << '\n';
    return 0;
}

BenchRegistrar reg("ime", benchIme);

} // namespace
