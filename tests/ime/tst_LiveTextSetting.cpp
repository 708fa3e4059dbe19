// The live-text setting as the user meets it on the settings page.
#include "app/AppRig.h"
#include "app/pages/VoxleSettingsView.h"
#include "platform/linux/X11WindowKeyTranslator.h"

#include <QCheckBox>
#include <QTest>

class tst_LiveTextSetting : public QObject
{
    Q_OBJECT
private slots:
    void checkbox_offByDefault_writesThroughAndFollowsThePreference()
    {
        AppRig rig;
        VoxleSettingsView settings(*rig.state, rig.defaults, rig.settingsOpener, &X11WindowKeyTranslator::create);
        QCheckBox *box = nullptr;
        for (QCheckBox *b : settings.findChildren<QCheckBox *>())
            if (b->text() == QStringLiteral("实时显示识别文字"))
                box = b;
        QVERIFY(box);
        QVERIFY(!box->isChecked());

        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QVERIFY(rig.state->preferences().liveTextPreedit());
        QCOMPARE(rig.defaults.boolean(QStringLiteral("live_text_preedit")), std::optional<bool>(true));

        rig.state->preferences().setLiveTextPreedit(false);
        QVERIFY(!box->isChecked());
    }
};

QTEST_MAIN(tst_LiveTextSetting)
#include "tst_LiveTextSetting.moc"
