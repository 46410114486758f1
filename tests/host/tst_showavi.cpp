// The busy indicator over the main window.
#include "host/BusyOverlay.h"
#include "host/HostApplication.h"
#include "host/ShowAvi.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>

namespace {
BusyOverlay *overlay()
{
    return HostApplication::mainForm()->findChild<BusyOverlay *>();
}
}

class TstShowAvi : public QObject
{
    Q_OBJECT
private slots:
    void init() { HostApplication::mainForm()->show(); }
    void cleanup() { DeactiveShowAvi(); }

    void activeCoversMainWindowAndAnimates()
    {
        QWidget form;
        ActiveShowAvi(&form, TShowAvi::Fetch);
        QVERIFY(ShowAviRunning());
        QCOMPARE(ShowAviKind(), 6);
        BusyOverlay *o = overlay();
        QVERIFY(o);
        QVERIFY(!o->isVisible());           // a quick call shows nothing
        QVERIFY(!HostApplication::busyCursor());
        QTRY_VERIFY(o->isVisible());
        QCOMPARE(o->geometry(), HostApplication::mainForm()->rect());
        QVERIFY(HostApplication::busyCursor());
        const int start = o->angle();
        QTRY_VERIFY(o->angle() != start);   // the timer drives the spinner
        // Drawn over the window: the centre pixel is the overlay's dark box.
        const QImage shot = HostApplication::mainForm()->grab().toImage();
        const QColor centre = shot.pixelColor(shot.rect().center().x(), shot.rect().center().y() - 40);
        QVERIFY2(centre.lightness() < 100, qPrintable(centre.name()));
    }

    void deactiveEndsOverlayAndCursor()
    {
        ActiveShowAvi(nullptr, TShowAvi::Write);
        QCOMPARE(ShowAviKind(), 1);
        QCOMPARE(overlay()->caption(), QStringLiteral("Gravando..."));
        DeactiveShowAvi();
        QVERIFY(!ShowAviRunning());
        QCOMPARE(ShowAviKind(), -1);
        QVERIFY(!overlay()->isVisible());
        QVERIFY(!HostApplication::busyCursor());
        QVERIFY(!QApplication::overrideCursor());
    }

    void quickCallsReuseOneHiddenOverlay()
    {
        ActiveShowAvi(nullptr, TShowAvi::Write);
        BusyOverlay *first = overlay();
        QVERIFY(first);
        for (int i = 0; i < 5; ++i) {
            DeactiveShowAvi();
            ActiveShowAvi(nullptr, TShowAvi::Fetch);
        }
        DeactiveShowAvi();
        // The delay of an ended call must not show the overlay later on.
        QTest::qWait(BusyOverlay::kShowDelayMs + 100);
        QCOMPARE(HostApplication::mainForm()->findChildren<BusyOverlay *>(), QList<BusyOverlay *>{first});
        QVERIFY(!first->isVisible());
        QVERIFY(!QApplication::overrideCursor());
    }

    void deactiveWithoutIndicatorIsHarmless()
    {
        DeactiveShowAvi();
        DeactiveShowAvi();
        QVERIFY(!ShowAviRunning());
        QVERIFY(!QApplication::overrideCursor());
    }

    void secondActiveReplacesFirst()
    {
        ActiveShowAvi(nullptr, TShowAvi::Fetch);
        ActiveShowAvi(nullptr, TShowAvi::Write);
        QCOMPARE(HostApplication::mainForm()->findChildren<BusyOverlay *>().size(), 1);
        QCOMPARE(ShowAviKind(), 1);
        DeactiveShowAvi();
        QVERIFY(!QApplication::overrideCursor());   // not left stacked
    }

    void overlayFollowsWindowSize()
    {
        ActiveShowAvi(nullptr, TShowAvi::Fetch);
        HostApplication::mainForm()->resize(640, 480);
        QTRY_COMPARE(overlay()->size(), QSize(640, 480));
    }

    void indicatorInsideBusyOpeningKeepsHourglass()
    {
        // A screen's opening holds the hourglass around a fetch with the indicator.
        HostApplication::setBusyCursor(true);
        ActiveShowAvi(nullptr, TShowAvi::Fetch);
        DeactiveShowAvi();
        QVERIFY(HostApplication::busyCursor());
        QVERIFY(QApplication::overrideCursor());
        HostApplication::setBusyCursor(false);
        QVERIFY(!QApplication::overrideCursor());
        HostApplication::setBusyCursor(false);   // a stray "off" changes nothing
        HostApplication::setBusyCursor(true);
        QVERIFY(QApplication::overrideCursor());
        HostApplication::setBusyCursor(false);
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(TstShowAvi)
#include "tst_showavi.moc"
