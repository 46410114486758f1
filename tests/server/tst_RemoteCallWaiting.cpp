// What the calling thread does while an answer is awaited: the event loop
// keeps running (timers, painting) but user input waits for the answer, and
// nothing can re-enter the connection meanwhile.

#include "FakeAppServer.h"
#include "server/RemoteResult.h"
#include "server/TNetConnection.h"

#include <QCborStreamWriter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <httplib.h>

#include <chrono>
#include <thread>
#include <time.h>

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

class KeyWindow : public QWindow
{
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent *) override { ++keys; }
};

} // namespace

class TestRemoteCallWaiting : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeAppServer> server;
    QPointer<TNetConnection> net;

private slots:
    void init()
    {
        server = std::make_unique<FakeAppServer>();
        // Every answer takes 250 ms.
        server->setAnswer([](const FakeAppServer::Received &r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            return FakeAppServer::cborOk(r.id(), [](QCborStreamWriter &w) { w.append(QLatin1String("feito")); });
        });
        net = new TNetConnection;
        server->aim(*net);
        net->setConnected(true);
        QVERIFY2(net->Connected(), qPrintable(net->lastError()));
    }

    void cleanup()
    {
        delete net.data();
        server.reset();
    }

    void timersRunButUserInputWaitsForTheAnswer()
    {
        KeyWindow window;
        window.resize(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);

        int keysWhenInjected = -1;
        QTimer::singleShot(50, this, [&] {
            // Queued the way the window system queues a real key press.
            keysWhenInjected = window.keys;
            QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
                &window, QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        });

        const double cpu = threadCpuMs();
        const QVariant result = net->AppServer().call(QStringLiteral("SetDescEmi"), {});
        const double cpuMs = threadCpuMs() - cpu;
        const int keysWhenAnswered = window.keys;
        const int ticksWhenAnswered = ticks;
        // The caller watches for a quick answer only briefly, then sleeps in
        // its event loop: a fraction of the 250 ms in CPU.
        QVERIFY2(cpuMs < 60, qPrintable(QStringLiteral("%1 ms of CPU").arg(cpuMs)));

        QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
        QCOMPARE(keysWhenInjected, 0);
        QVERIFY2(ticksWhenAnswered >= 5, qPrintable(QString::number(ticksWhenAnswered)));
        QCOMPARE(keysWhenAnswered, 0);

        // Once the call has returned, the held key press is delivered.
        QTRY_COMPARE(window.keys, 1);
    }

    void aSecondCallWhileOneIsAwaitedIsRefused()
    {
        QString nestedError;
        bool nestedClose = false;
        QTimer::singleShot(50, this, [&] {
            try {
                net->AppServer().call(QStringLiteral("GetPedido"), {});
            } catch (const opd::RemoteCallError &e) {
                nestedError = e.message();
            }
            // Closing does not throw (screens close in their destructor):
            // it takes effect when the awaited call ends.
            try {
                net->setConnected(false);
                nestedClose = !net->Connected();
            } catch (const opd::RemoteCallError &) {
            }
        });

        const QVariant result = net->AppServer().call(QStringLiteral("SetDescEmi"), {});

        QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
        QCOMPARE(nestedError, QStringLiteral("Já existe uma chamada em andamento ao servidor de aplicação."));
        QVERIFY(nestedClose);
        QVERIFY(!net->Connected());
        QCOMPARE(server->received().size(), 1);

        // Once the first call is over and the connection opened again, calls go through.
        net->setConnected(true);
        QCOMPARE(RemoteResult::payload(net->AppServer().call(QStringLiteral("SetDescEmi"), {})).toString(),
                 QStringLiteral("feito"));
    }

    void quittingWhileAwaitingWaitsWithoutSpinning()
    {
        server->setAnswer([](const FakeAppServer::Received &r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            return FakeAppServer::cborOk(r.id(), [](QCborStreamWriter &w) { w.append(QLatin1String("feito")); });
        });
        QVariant result;
        double cpuMs = -1, wallMs = -1;
        QTimer::singleShot(0, this, [&] {
            // The application is asked to quit while the call waits.
            QTimer::singleShot(50, this, [] { QCoreApplication::quit(); });
            QElapsedTimer wall;
            wall.start();
            const double cpu = threadCpuMs();
            result = net->AppServer().call(QStringLiteral("SetDescEmi"), {});
            cpuMs = threadCpuMs() - cpu;
            wallMs = wall.elapsed();
        });
        QCoreApplication::exec();

        QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
        QVERIFY2(wallMs >= 550, qPrintable(QString::number(wallMs)));
        // Spinning would burn most of the ~550 ms after the quit.
        QVERIFY2(cpuMs < 150, qPrintable(QStringLiteral("%1 ms of CPU in %2 ms").arg(cpuMs).arg(wallMs)));
    }

    void connectionDeletedWhileAwaitingStillEndsTheCallCleanly()
    {
        QTimer::singleShot(50, this, [&] { delete net.data(); });
        const QVariant result = AppServerDispatch(net.data()).call(QStringLiteral("SetDescEmi"), {});
        QVERIFY(net.isNull());
        QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
    }

    void callFromAThreadWithoutEventLoopBlocksPlainly()
    {
        QVariant result;
        QString error;
        std::thread caller([&] {
            try {
                result = net->AppServer().call(QStringLiteral("SetDescEmi"), {});
            } catch (const opd::RemoteCallError &e) {
                error = e.message();
            }
        });
        caller.join();
        QCOMPARE(error, QString());
        QCOMPARE(RemoteResult::payload(result).toString(), QStringLiteral("feito"));
    }
};

QTEST_MAIN(TestRemoteCallWaiting)
#include "tst_RemoteCallWaiting.moc"
