#pragma once
// A translucent overlay with a spinning arc, laid over a window while a long
// call runs. It follows the window's size and is driven by a QTimer; the
// event loop keeps painting it while the remote-call client waits.

#include <QTimer>
#include <QWidget>

class BusyOverlay : public QWidget
{
    Q_OBJECT
public:
    // Delay before the overlay appears; a call that ends sooner shows nothing.
    static constexpr int kShowDelayMs = 250;

    explicit BusyOverlay(QWidget *window, int kind);
    int kind() const { return m_kind; }
    int angle() const { return m_angle; }
    QString caption() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step();

    int m_kind;
    int m_angle = 0;
    QTimer m_timer;
};
