// What the offscreen renderings show: the overlay's texts read back with OCR, and the captcha picture drawn the
// same for the same seed (compared with a stored reference; VOXLE_UPDATE_REFERENCES=1 rewrites it after a
// deliberate change). The main window's pages are read back on a real X server by the user-journey test.
#include "AppRig.h"
#include "app/auth/SliderCaptchaArtView.h"
#include "app/overlay/PillOverlayView.h"
#include "support/OcrText.h"

#include <QDir>
#include <QFontMetrics>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString referencePath(const QString &name)
{
    return QStringLiteral(VOXLE_REFERENCE_DIR "/") + name + QStringLiteral(".png");
}

// Share of pixels that differ by more than a quarter of the range in any channel.
double differingShare(const QImage &a, const QImage &b)
{
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 64 || std::abs(qGreen(p) - qGreen(q)) > 64 ||
                std::abs(qBlue(p) - qBlue(q)) > 64)
                ++differing;
        }
    }
    return double(differing) / (double(a.width()) * a.height());
}

// Number of distinct colours: a blank or single-colour picture has one or two.
int colourCount(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

void checkAgainstReference(const QImage &shot, const QString &name, double tolerance)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    QVERIFY2(colourCount(image) > 20, qPrintable(name + QStringLiteral(" is blank")));
    const QString path = referencePath(name);
    if (qEnvironmentVariableIntValue("VOXLE_UPDATE_REFERENCES")) {
        QVERIFY(image.save(path));
        return;
    }
    QImage reference(path);
    QVERIFY2(!reference.isNull(), qPrintable(QStringLiteral("no reference ") + path));
    reference = reference.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(image.size(), reference.size());
    const double share = differingShare(image, reference);
    if (share > tolerance)
        image.save(QDir::tempPath() + QStringLiteral("/") + name + QStringLiteral("-actual.png"));
    QVERIFY2(share <= tolerance, qPrintable(QStringLiteral("%1: %2 of the pixels differ").arg(name).arg(share)));
}
} // namespace

class TestScreenshots : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Chinese must come out as glyphs, not boxes: the font the windows use has them.
        QFontMetrics metrics(QApplication::font());
        for (QChar c : QStringLiteral("言川录音润色设置历史"))
            QVERIFY2(metrics.inFont(c), "no CJK font installed (fonts-wqy-microhei)");
    }

    void overlay_recordingPillReadsItsTexts()
    {
        AppRig rig;
        rig.state->toggleRecordingFromHotkey(DictationMode::polish);
        AppRig::settle();
        PillOverlayView pill(*rig.state);
        pill.resize(640, 64);
        pill.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pill));
        AppRig::settle();
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("pill.png"));
        QVERIFY(pill.grab().save(png));
        const QStringList expected{QStringLiteral("言川"), QStringLiteral("正在听"), QStringLiteral("按 Fn 结束")};
        const QString text = OcrText::read(png, 0, expected);
        for (const QString &e : expected)
            QVERIFY2(OcrText::readsAs(text, e), qPrintable(e + QStringLiteral(" not read in:\n") + text));
    }

    void captcha_sameSeedSamePicture()
    {
        const QImage art = SliderCaptchaArtView::renderImage(20261206, QSize(388, 200));
        checkAgainstReference(art, QStringLiteral("captcha-art"), 0.001);
    }
};

QTEST_MAIN(TestScreenshots)
#include "tst_Screenshots.moc"
