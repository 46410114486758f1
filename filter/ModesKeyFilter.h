#pragma once
// Key-down handlers for controls that Qt gives no key signal: the filter's
// "Lista" radio buttons, where F9 opens the criterion's picker.
//
// A handler sees the Qt key code and the modifiers of every key pressed on
// its control, runs through opd::guarded(), and may swallow the key by
// setting it to 0; otherwise the key goes on to the control unchanged.

#include <QHash>
#include <QObject>
#include <functional>

class ModesKeyFilter : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(QObject *sender, int &key, Qt::KeyboardModifiers shift)>;

    explicit ModesKeyFilter(QObject *parent = nullptr);

    // Watches `control` (an event filter on it) and runs `handler` on its
    // key presses. One handler per control; a second call replaces it.
    void setKeyDownHandler(QObject *control, Handler handler);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QHash<QObject *, Handler> m_handlers;
};
