#include "filter/ModesKeyFilter.h"

#include "platform/Exceptions.h"

#include <QKeyEvent>

ModesKeyFilter::ModesKeyFilter(QObject *parent)
    : QObject(parent)
{
}

void ModesKeyFilter::setKeyDownHandler(QObject *control, Handler handler)
{
    if (!m_handlers.contains(control)) {
        control->installEventFilter(this);
        // A control destroyed before this filter must not leave a dangling key.
        connect(control, &QObject::destroyed, this, [this](QObject *gone) { m_handlers.remove(gone); });
    }
    m_handlers.insert(control, std::move(handler));
}

bool ModesKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto it = m_handlers.constFind(watched);
    if (it == m_handlers.constEnd())
        return false;
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    int key = keyEvent->key();
    // A copy: the handler may open a modal picker, during which the table of
    // handlers could change.
    const Handler handler = *it;
    opd::guarded([&] { handler(watched, key, keyEvent->modifiers()); });
    return key == 0;
}
