#pragma once
// Shared setup of the screen's widget tests: the unit initialized, the
// login environment pointed at a server address, the messages that
// Consiste would show recorded instead of shown, and the screen opened
// through the unit's entry routine.

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/Orvand.h"
#include "screen/Cli_opd31000.h"
#include "screen/TfrmDescEmiPed.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStringList>
#include <QTest>

namespace screentest {

// A loopback port with nothing listening: connecting fails at once.
inline int closedPort()
{
    return 1;
}

struct MessageRecorder
{
    QStringList texts;
    Consiste::MessageSink previous;
    MessageRecorder()
    {
        previous = Consiste::setMessageSink([this](const QString &t) { texts << t; });
    }
    ~MessageRecorder() { Consiste::setMessageSink(previous); }
};

inline void pointServerAt(int port)
{
    Orvand::environment().webUrl = QStringLiteral("127.0.0.1");
    Orvand::environment().webPort = port;
}

// Opens (or shows) the screen and waits until its window is active, so
// that focus moves are real.
inline TfrmDescEmiPed *openScreen()
{
    QMainWindow *main = HostApplication::mainForm();
    if (!main->isVisible()) {
        main->show();
        main->activateWindow();
        if (!QTest::qWaitForWindowActive(main))
            return nullptr;
    }
    Cli_opd31000::CriaDescEmi();
    return Cli_opd31000::frmDescEmiPed;
}

// Closes the screen the way the user does and waits until it is gone.
inline bool closeScreen()
{
    TfrmDescEmiPed *screen = Cli_opd31000::frmDescEmiPed;
    if (!screen)
        return true;
    if (QMdiSubWindow *sub = screen->subWindow())
        sub->close();
    else
        screen->close();
    return QTest::qWaitFor([] { return Cli_opd31000::frmDescEmiPed.isNull(); }, 2000);
}

} // namespace screentest
