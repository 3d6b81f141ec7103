// The About window and the agent's icons, offscreen. Each is also saved as a PNG in the
// build folder so that a person can look at it.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include "ui/about/about_dialog.h"
#include "ui/about/about_picture.h"
#include "ui/tray/agent_icon.h"

namespace kv {

class AboutWindowTest : public QObject {
    Q_OBJECT

    static bool Closed(const CAboutDialog& dialog) {
        return !dialog.isVisible() && dialog.result() == QDialog::Accepted;
    }

  private slots:
    void initTestCase() { QDir().mkpath("screenshots"); }

    void theSplashClosesByItselfOrEarlierAtAClick() {
        CAboutDialog splash(415, CAboutDialog::kSplashMilliseconds);
        QCOMPARE(splash.CloseAfter(), 1000);
        QVERIFY(splash.TimerRunning());
        QCOMPARE(splash.size(), kAboutPictureSize);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(splash.geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(splash.geometry().center().y() - screen.center().y()) <= 1);
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QVERIFY(splash.grab().save("screenshots/splash_offscreen.png"));
        // Any of the three buttons ends it; a press alone does not.
        QTest::mousePress(&splash, Qt::MiddleButton);
        QVERIFY(splash.isVisible());
        QTest::mouseRelease(&splash, Qt::MiddleButton);
        QVERIFY(Closed(splash));
    }

    void theAboutBoxStaysUntilAKey() {
        CAboutDialog about(415, 0);
        QVERIFY(!about.TimerRunning());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Alt);
        QVERIFY(Closed(about));

        CAboutDialog clicked(415, 0);
        clicked.show();
        QTest::mouseClick(&clicked, Qt::RightButton);
        QVERIFY(Closed(clicked));
    }

    void theTextsNameTheProductTheVersionAndTheLibrary() {
        QCOMPARE(CAboutDialog::ProductName(), QString("Korvenix SSH Authentication Agent"));
        QCOMPARE(CAboutDialog::Version(), QString("1.0 Build 56"));
        const QString notice = CAboutDialog::NoticeText();
        QVERIFY(notice.startsWith("\n\nCopyright"));
        // The module's own description follows the notice, one fact per line.
        QVERIFY(
            notice.contains("\nCryptographic library version 1.0 build 1\n"
                            "International, selftest, bignum, dl, rsa\n\nNon-FIPS mode"));
        QVERIFY(!notice.contains("ready"));  // the format shows no status
    }

    // Also run with a font setting of 192 dots per inch: the text must still fit the picture,
    // whose size is fixed, and leave its right edge as drawn.
    void theTextStaysInsideThePicture() {
        CAboutDialog about(415, 0);
        const QImage shown = about.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage bare = AboutPicture(1.0).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), bare.size());
        for (int y = shown.height() * 28 / 100; y < shown.height(); ++y) {
            for (int x = shown.width() - 6; x < shown.width(); ++x) {
                if (shown.pixel(x, y) != bare.pixel(x, y))
                    QFAIL(qPrintable(QString("text drawn at the edge, at %1,%2").arg(x).arg(y)));
            }
        }
        about.grab().save("screenshots/about_box_offscreen.png");
    }

    void thePictureIsSharpAtEveryPixelRatio() {
        for (const qreal ratio : {1.0, 1.5, 2.0}) {
            const QPixmap picture = AboutPicture(ratio);
            QCOMPARE(picture.size(), kAboutPictureSize * ratio);
            QCOMPARE(picture.devicePixelRatio(), ratio);
        }
        // The right-hand side, where the black texts go, stays light.
        const QImage image = AboutPicture(1.0).toImage();
        for (int y = 80; y < 220; y += 7) {
            for (int x = 180; x < 430; x += 9) QVERIFY(qGray(image.pixel(x, y)) > 200);
        }
        QVERIFY(AboutPicture(2.0).save("screenshots/about_picture_2x.png"));
    }

    void theIconsAreDistinctAndFillTheirSquareAtAnySize() {
        const QList<int> sizes = {16, 22, 32, 48, 64, 128};
        QImage strip(sizes.size() * 140, 2 * 140, QImage::Format_ARGB32);
        strip.fill(QColor(60, 63, 65));
        QPainter painter(&strip);
        for (int row = 0; row < 2; ++row) {
            const bool locked = row == 0;
            for (int i = 0; i < sizes.size(); ++i) {
                const int side = sizes[i];
                const QImage image = AgentIcon(locked).pixmap(QSize(side, side), 1.0).toImage();
                QCOMPARE(image.size(), QSize(side, side));
                // Drawn across the square: a padlock as tall as the icon and most of its width.
                QRect used;
                for (int y = 0; y < side; ++y)
                    for (int x = 0; x < side; ++x)
                        if (qAlpha(image.pixel(x, y)) > 128) used |= QRect(x, y, 1, 1);
                QVERIFY(used.width() >= side * 2 / 3);
                QVERIFY(used.height() >= side * 3 / 4);
                painter.drawImage(i * 140 + (140 - side) / 2, row * 140 + (140 - side) / 2, image);
            }
        }
        painter.end();
        QVERIFY(strip.save("screenshots/agent_icons.png"));
        QVERIFY(AgentIcon(true).pixmap(32, 32).toImage() !=
                AgentIcon(false).pixmap(32, 32).toImage());
    }
};

}  // namespace kv

QTEST_MAIN(kv::AboutWindowTest)
#include "about_window_test.moc"
