// What the offscreen renderings show: the overlay's texts read back with OCR, and the captcha picture drawn the
// same for the same seed (compared with a stored reference; VOXLE_UPDATE_REFERENCES=1 rewrites it after a
// deliberate change). The main window's pages are read back on a real X server by the user-journey test.
#include "AppRig.h"
#include "app/auth/SliderCaptchaArtView.h"
#include "app/overlay/PillOverlayView.h"
#include "support/OcrText.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Share of pixels that differ by more than 16 of 255 in any channel.
double differingShare(const QImage &a, const QImage &b)
{
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 16 || std::abs(qGreen(p) - qGreen(q)) > 16 ||
                std::abs(qBlue(p) - qBlue(q)) > 16)
                ++differing;
        }
    }
    return double(differing) / (double(a.width()) * a.height());
}

void checkAgainstReference(const QImage &shot, const QString &name, double tolerance)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    const QString path = QStringLiteral(VOXLE_REFERENCE_DIR "/") + name + QStringLiteral(".png");
    if (qEnvironmentVariableIntValue("VOXLE_UPDATE_REFERENCES")) {
        QVERIFY(image.save(path));
        return;
    }
    const QImage reference = QImage(path).convertToFormat(QImage::Format_RGB32);
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
