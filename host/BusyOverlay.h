#pragma once
// A translucent overlay with a spinning arc, laid over a window while a long
// call runs. It is made once per window and kept hidden: start() only arms a
// timer, and the overlay (with the wait cursor) appears when a call outlasts
// kShowDelayMs. It follows the window's size; the event loop keeps painting
// it while the remote-call client waits.

#include <QTimer>
#include <QWidget>

class BusyOverlay : public QWidget
{
    Q_OBJECT
public:
    // Delay before the overlay appears; a call that ends sooner shows nothing.
    static constexpr int kShowDelayMs = 250;

    explicit BusyOverlay(QWidget *window);
    void start(int kind);
    void stop();           // harmless when not running
    bool running() const { return m_running; }
    int kind() const { return m_kind; }
    int angle() const { return m_angle; }
    QString caption() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void appear();
    void step();

    int m_kind = -1;
    int m_angle = 0;
    bool m_running = false;
    bool m_cursor = false;
    QTimer m_delay;
    QTimer m_spin;
};
