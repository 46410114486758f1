#pragma once
// Enter and exit events for the controls and containers of one form, in the
// order a clerk expects: when the focus moves from A to B, A's exit runs
// first, then the exits of A's containers up to the one that also holds B
// (innermost first), then the enters of B's containers down to B.
//
// An exit handler refuses the move by throwing (after showing its message):
// the rest of the move is skipped and the focus goes back to where it was,
// unless the handler itself moved it somewhere (a check that sends the user
// to the control to correct). Focus moving to another window (a message box,
// another screen) is not a move: the form keeps its current control.
//
// Nested focus changes while a handler runs (a message box, a check moving
// the focus) are not reported again.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class FocusExitTracker : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void()>;

    explicit FocusExitTracker(QWidget *form);

    void setExitHandler(QWidget *widget, Handler handler);
    void setEnterHandler(QWidget *widget, Handler handler);

    // The control of the form that holds the focus, as far as the tracker
    // is concerned (null before the form first had the focus).
    QWidget *current() const { return m_current; }
    bool isInside(const QWidget *container) const;

private:
    void focusChanged(QWidget *old, QWidget *now);
    bool runExits(QWidget *from, QWidget *to);
    void runEnters(QWidget *from, QWidget *to);

    QPointer<QWidget> m_form;
    QPointer<QWidget> m_current;
    QHash<QWidget *, Handler> m_exit;
    QHash<QWidget *, Handler> m_enter;
    bool m_busy = false;
};
