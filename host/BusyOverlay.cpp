#include "host/BusyOverlay.h"

#include "host/HostApplication.h"

#include <QEvent>
#include <QPainter>

BusyOverlay::BusyOverlay(QWidget *window) : QWidget(window)
{
    setObjectName(QStringLiteral("BusyOverlay"));
    // Clicks fall on the overlay, not on the controls below: the call that
    // runs must not be re-entered from the same screen.
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(window->rect());
    hide();
    window->installEventFilter(this);
    connect(&m_spin, &QTimer::timeout, this, &BusyOverlay::step);
    m_delay.setSingleShot(true);
    m_delay.setInterval(kShowDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &BusyOverlay::appear);
}

void BusyOverlay::start(int kind)
{
    // Nothing is drawn, shown or cursor-changed here. Making, showing and
    // hiding a translucent layer repaints the whole window, grid included:
    // on a quick write that cost several times the write itself, and a
    // flash of "Gravando..." tells the clerk nothing. Input is held back by
    // the waiting call in the meantime, so nothing can be clicked underneath.
    stop();
    m_kind = kind;
    m_running = true;
    m_delay.start();
}

void BusyOverlay::appear()
{
    if (!m_running)
        return;
    m_angle = 0;
    m_spin.start(60);
    raise();
    show();
    HostApplication::setBusyCursor(true);
    m_cursor = true;
}

void BusyOverlay::stop()
{
    m_running = false;
    m_delay.stop();
    m_spin.stop();
    if (isVisible())
        hide();
    if (m_cursor) {
        m_cursor = false;
        HostApplication::setBusyCursor(false);
    }
}

QString BusyOverlay::caption() const
{
    return m_kind == 1 ? QStringLiteral("Gravando...") : QStringLiteral("Buscando dados...");
}

void BusyOverlay::step()
{
    m_angle = (m_angle + 30) % 360;
    update();
}

bool BusyOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}

void BusyOverlay::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(255, 255, 255, 90));
    const QRect box(width() / 2 - 90, height() / 2 - 50, 180, 100);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40, 200));
    p.drawRoundedRect(box, 8, 8);
    const QRect arc(box.center().x() - 16, box.top() + 14, 32, 32);
    p.setPen(QPen(QColor(255, 255, 255), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(arc, -m_angle * 16, 270 * 16);
    p.setPen(Qt::white);
    p.drawText(QRect(box.left(), box.top() + 56, box.width(), 30), Qt::AlignCenter, caption());
}
