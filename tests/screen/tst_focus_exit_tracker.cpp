// Enter and exit events of the focus tracker: their order, a refused exit,
// a check that sends the focus elsewhere, and focus outside the form.

#include "platform/Exceptions.h"
#include "screen/FocusExitTracker.h"

#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

class FocusExitTrackerTest : public QObject
{
    Q_OBJECT

    QWidget window;                 // holds the form and a control outside it
    QWidget *form = nullptr;
    QFrame *panel = nullptr;
    QLineEdit *a = nullptr, *b = nullptr, *c = nullptr, *outside = nullptr;
    FocusExitTracker *tracker = nullptr;
    QStringList log;
    QWidget *refuse = nullptr;      // exit handler of this widget refuses
    QWidget *sendTo = nullptr;      // ...after moving the focus here

    void track(QWidget *w, const QString &name)
    {
        tracker->setExitHandler(w, [this, w, name] {
            log << QStringLiteral("exit ") + name;
            if (w == refuse) {
                if (sendTo)
                    sendTo->setFocus();
                throw opd::Abort();
            }
        });
    }

private slots:
    void initTestCase()
    {
        auto *outer = new QVBoxLayout(&window);
        form = new QWidget(&window);
        outside = new QLineEdit(&window);
        outer->addWidget(form);
        outer->addWidget(outside);
        auto *inner = new QVBoxLayout(form);
        panel = new QFrame(form);
        c = new QLineEdit(form);
        inner->addWidget(panel);
        inner->addWidget(c);
        auto *inPanel = new QVBoxLayout(panel);
        a = new QLineEdit(panel);
        b = new QLineEdit(panel);
        inPanel->addWidget(a);
        inPanel->addWidget(b);
        tracker = new FocusExitTracker(form);
        track(a, QStringLiteral("a"));
        track(b, QStringLiteral("b"));
        track(c, QStringLiteral("c"));
        track(panel, QStringLiteral("panel"));
        tracker->setEnterHandler(panel, [this] { log << QStringLiteral("enter panel"); });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    void init()
    {
        refuse = sendTo = nullptr;
        c->setFocus();
        log.clear();
    }

    void movesRunExitsInnermostFirstThenEnters()
    {
        a->setFocus();
        b->setFocus();
        c->setFocus();
        QCOMPARE(log, (QStringList{"exit c", "enter panel", "exit a", "exit b", "exit panel"}));
    }

    void refusedExitKeepsTheFocusAndLeavesNoContainer()
    {
        a->setFocus();
        refuse = a;
        log.clear();
        c->setFocus();
        QCOMPARE(log, QStringList{"exit a"});
        QCOMPARE(QApplication::focusWidget(), a);
        QCOMPARE(tracker->current(), a);

        refuse = nullptr;
        log.clear();
        c->setFocus();
        QCOMPARE(log, (QStringList{"exit a", "exit panel"}));
    }

    void focusSentElsewhereByARefusingCheckStaysThere()
    {
        a->setFocus();
        refuse = panel;
        sendTo = b;
        log.clear();
        c->setFocus();
        QCOMPARE(log, (QStringList{"exit a", "exit panel"}));
        QCOMPARE(QApplication::focusWidget(), b);
        QCOMPARE(tracker->current(), b);

        // Still inside the panel: leaving b is an ordinary move out of it.
        refuse = sendTo = nullptr;
        log.clear();
        c->setFocus();
        QCOMPARE(log, (QStringList{"exit b", "exit panel"}));
    }

    void focusOutsideTheFormIsNoMove()
    {
        a->setFocus();
        log.clear();
        outside->setFocus();
        a->setFocus();
        QVERIFY(log.isEmpty());
        outside->setFocus();
        c->setFocus();   // the form's control was still a
        QCOMPARE(log, (QStringList{"exit a", "exit panel"}));
    }
};

QTEST_MAIN(FocusExitTrackerTest)
#include "tst_focus_exit_tracker.moc"
