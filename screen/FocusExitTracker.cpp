#include "screen/FocusExitTracker.h"

#include "platform/Exceptions.h"

#include <QApplication>
#include <QList>

namespace {

// Ancestors of w inside form, w first, form excluded.
QList<QWidget *> chain(QWidget *w, QWidget *form)
{
    QList<QWidget *> out;
    for (; w && w != form; w = w->parentWidget())
        out.append(w);
    return out;
}

} // namespace

FocusExitTracker::FocusExitTracker(QWidget *form)
    : QObject(form), m_form(form)
{
    // QApplication's signal rather than focus events on each control: a
    // container (the filter panel) never gets focus events of its own.
    connect(qApp, &QApplication::focusChanged, this, &FocusExitTracker::focusChanged);
}

void FocusExitTracker::setExitHandler(QWidget *widget, Handler handler)
{
    m_exit.insert(widget, std::move(handler));
}

void FocusExitTracker::setEnterHandler(QWidget *widget, Handler handler)
{
    m_enter.insert(widget, std::move(handler));
}

bool FocusExitTracker::isInside(const QWidget *container) const
{
    return m_current && (m_current == container || container->isAncestorOf(m_current));
}

void FocusExitTracker::focusChanged(QWidget *, QWidget *now)
{
    if (m_busy || !m_form || !now || !m_form->isAncestorOf(now))
        return;
    QWidget *from = m_current;
    if (from == now)
        return;
    m_busy = true;
    if (runExits(from, now)) {
        m_current = now;
        runEnters(from, now);
        // An enter handler may have moved the focus on; follow it quietly.
        QWidget *f = QApplication::focusWidget();
        if (f && m_form->isAncestorOf(f))
            m_current = f;
    }
    m_busy = false;
}

bool FocusExitTracker::runExits(QWidget *from, QWidget *to)
{
    if (!from)
        return true;
    const QList<QWidget *> leaving = chain(from, m_form);
    for (QWidget *w : leaving) {
        if (w == to || w->isAncestorOf(to))
            break;   // the common container: not left
        const auto it = m_exit.constFind(w);
        if (it == m_exit.constEnd())
            continue;
        if (opd::guarded(*it))
            continue;
        // Refused. A check that moved the focus to the control to correct
        // keeps that; otherwise the focus goes back where it was. The
        // window's focus child tells which, not the application's focus
        // widget: after the check's message box the window may not be
        // active again yet, and then setFocus only records the child that
        // the activation will focus (the application's answer is none).
        QWidget *f = m_form->window()->focusWidget();
        if (f && f != to && m_form->isAncestorOf(f)) {
            m_current = f;
        } else if (from->isVisible() && from->isEnabled()) {
            from->setFocus(Qt::OtherFocusReason);
        }
        return false;
    }
    return true;
}

void FocusExitTracker::runEnters(QWidget *from, QWidget *to)
{
    QList<QWidget *> entering = chain(to, m_form);
    std::reverse(entering.begin(), entering.end());
    for (QWidget *w : entering) {
        if (from && (w == from || w->isAncestorOf(from)))
            continue;   // already inside it
        const auto it = m_enter.constFind(w);
        if (it != m_enter.constEnd())
            opd::guarded(*it);
    }
}
