// The page control's tab bar and the screen's tool buttons paint from kept
// images: what they show must be what a plain widget in the same state
// paints, whatever state they were in before.
#include "host/CachedWidgets.h"
#include "host/TCustomPageControl98.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QStyle>
#include <QTabBar>
#include <QTest>
#include <QToolButton>

#include <functional>

// A failed comparison ends the test there.
#define COMPARE_LOOKS(kept, plain, what)                                                                     \
    do {                                                                                                     \
        compareLooks(kept, plain, what);                                                                     \
        if (QTest::currentTestFailed())                                                                      \
            return;                                                                                          \
    } while (false)

#define COMPARE_BARS(what) COMPARE_LOOKS(m_control->tabBar(), m_plain->tabBar(), what)

class TstKeptPaint : public QObject
{
    Q_OBJECT

    // The same two pages on the control under test and on a plain
    // QTabWidget, side by side in one window, the same size.
    QWidget m_window;
    TCustomPageControl98 *m_control = nullptr;
    QTabWidget *m_plain = nullptr;
    TTabSheet *m_orders = nullptr;
    TTabSheet *m_items = nullptr;

    CachedTabBar *cached() const { return qobject_cast<CachedTabBar *>(m_control->tabBar()); }

    // The same change to the widget under test and to its plain twin.
    template <class W>
    static void changeBoth(W *kept, W *plain, const std::function<void(W *)> &change)
    {
        change(kept);
        change(plain);
        QApplication::processEvents();   // paints, then keeps the new state
        QApplication::processEvents();
    }
    void setBoth(const std::function<void(QTabWidget *)> &change) { changeBoth<QTabWidget>(m_control, m_plain, change); }

    // Each widget as it is on screen (a grab repaints through paintEvent,
    // from the kept image where there is one).
    static void compareLooks(QWidget *kept, QWidget *plain, const char *what)
    {
        const QImage shown = kept->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage reference = plain->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shown.size(), reference.size());
        int worst = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = reference.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
            }
        }
        // Antialiased edges drawn on a transparent image and then over the
        // background round a level or two differently; a stale or missing
        // image differs by far more.
        QVERIFY2(worst <= 3, qPrintable(QStringLiteral("%1: a pixel differs by %2").arg(QLatin1String(what)).arg(worst)));
    }

private slots:
    void initTestCase()
    {
        auto *layout = new QHBoxLayout(&m_window);
        m_control = new TCustomPageControl98;
        m_plain = new QTabWidget;
        layout->addWidget(m_control);
        layout->addWidget(m_plain);
        m_orders = new TTabSheet;
        m_items = new TTabSheet;
        m_control->addPage(m_orders, QStringLiteral("Pedidos"));
        m_control->addPage(m_items, QStringLiteral("Itens do Pedido"));
        m_plain->addTab(new QWidget, QStringLiteral("Pedidos"));
        m_plain->addTab(new QWidget, QStringLiteral("Itens do Pedido"));
        // Only one of them could have the focus, and the style marks it.
        m_control->tabBar()->setFocusPolicy(Qt::NoFocus);
        m_plain->tabBar()->setFocusPolicy(Qt::NoFocus);
        m_window.resize(760, 200);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
        QVERIFY(cached());
        QCOMPARE(m_control->tabBar()->objectName(), QStringLiteral("qt_tabwidget_tabbar"));
        QCOMPARE(m_control->tabBar()->size(), m_plain->tabBar()->size());
        QApplication::processEvents();
    }

    void showsWhatAPlainBarPaintsInEveryStateItComesBackTo()
    {
        COMPARE_BARS("first paint");
        QCOMPARE(cached()->keptStates(), 1);

        // The post's two states, again and again: each from its own image.
        for (int round = 0; round < 3; ++round) {
            setBoth([](QTabWidget *w) { w->tabBar()->setTabEnabled(1, false); });
            COMPARE_BARS("items tab disabled");
            setBoth([](QTabWidget *w) { w->tabBar()->setTabEnabled(1, true); });
            COMPARE_BARS("items tab enabled again");
        }
        QCOMPARE(cached()->keptStates(), 2);

        setBoth([](QTabWidget *w) { w->setCurrentIndex(1); });
        COMPARE_BARS("other tab current");
        setBoth([](QTabWidget *w) { w->setTabText(0, QStringLiteral("Pedidos (3)")); });
        COMPARE_BARS("text changed");
        setBoth([](QTabWidget *w) { w->setCurrentIndex(0); });
        COMPARE_BARS("first tab current again");
        setBoth([](QTabWidget *w) { w->tabBar()->setTabTextColor(1, Qt::red); });
        COMPARE_BARS("text colour");
        setBoth([](QTabWidget *w) { w->tabBar()->setTabTextColor(1, Qt::blue); });
        COMPARE_BARS("another text colour");
        setBoth([](QTabWidget *w) { w->tabBar()->setTabEnabled(1, false); });
        COMPARE_BARS("coloured tab disabled");
        setBoth([](QTabWidget *w) { w->setCurrentIndex(1); });
        COMPARE_BARS("disabled tab current");
        QCOMPARE(cached()->keptStates(), CachedTabBar::kKeptStates);   // no more than that

        // A new palette: every image of the old one is dropped.
        QPalette dark = m_window.palette();
        dark.setColor(QPalette::Window, QColor(40, 40, 48));
        dark.setColor(QPalette::Button, QColor(60, 60, 70));
        dark.setColor(QPalette::ButtonText, Qt::white);
        dark.setColor(QPalette::WindowText, Qt::white);
        setBoth([&](QTabWidget *w) { w->setPalette(dark); });
        COMPARE_BARS("new palette");
        QCOMPARE(cached()->keptStates(), 1);

        // Resized: the images of the old size are gone too.
        m_window.resize(600, 200);
        QTRY_COMPARE(m_control->tabBar()->size(), m_plain->tabBar()->size());
        QApplication::processEvents();
        QApplication::processEvents();
        COMPARE_BARS("resized");
    }

    void aToolButtonShowsWhatAPlainOnePaintsEnabledOrNot()
    {
        // As the base screen's query command: text, raised on hover.
        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        auto *kept = new CachedToolButton;
        auto *plain = new QToolButton;
        for (QToolButton *b : {static_cast<QToolButton *>(kept), plain}) {
            b->setText(QStringLiteral("Consultar"));
            b->setAutoRaise(true);
            b->setFocusPolicy(Qt::NoFocus);
            b->setFixedSize(70, 20);
            layout->addWidget(b);
        }
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto both = [&](const std::function<void(QToolButton *)> &change) {
            changeBoth<QToolButton>(kept, plain, change);
        };
        QApplication::processEvents();
        COMPARE_LOOKS(kept, plain, "first paint");
        for (int round = 0; round < 3; ++round) {
            both([](QToolButton *b) { b->setEnabled(false); });
            COMPARE_LOOKS(kept, plain, "disabled");
            both([](QToolButton *b) { b->setEnabled(true); });
            COMPARE_LOOKS(kept, plain, "enabled again");
        }
        QCOMPARE(kept->keptStates(), 2);   // enabling is part of the state, not a reason to start over

        both([](QToolButton *b) { b->setText(QStringLiteral("Procurar")); });
        COMPARE_LOOKS(kept, plain, "other text");
        both([](QToolButton *b) { b->setDown(true); });
        COMPARE_LOOKS(kept, plain, "held down");
        both([](QToolButton *b) { b->setDown(false); });
        COMPARE_LOOKS(kept, plain, "released");
        both([](QToolButton *b) {
            b->setCheckable(true);
            b->setChecked(true);
        });
        COMPARE_LOOKS(kept, plain, "checked");
        both([](QToolButton *b) { b->setChecked(false); });
        COMPARE_LOOKS(kept, plain, "unchecked");
        both([](QToolButton *b) { b->setIcon(QApplication::style()->standardIcon(QStyle::SP_DialogOkButton)); });
        COMPARE_LOOKS(kept, plain, "with an icon");
        both([](QToolButton *b) { b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon); });
        COMPARE_LOOKS(kept, plain, "text beside the icon");
    }
};

QTEST_MAIN(TstKeptPaint)
#include "tst_keptpaint.moc"
