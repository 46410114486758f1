#pragma once
// A tab bar that keeps what it painted for the last few states it was in.
//
// The screen disables the other page's tab while a row is being edited and
// enables it again after the post, so the bar repaints after every post; the
// style shapes each label again and strokes each tab's rounded outline, 45 us
// of the 100 us the window spends repainting after a post. Painted from a
// kept image, the same repaint costs a few microseconds.
//
// An image is kept per state: everything the style is given to paint the bar
// (size, style, palette, font, focus, the window being active, the current
// tab, each tab's text, icon, colour, rectangle and whether it is enabled).
// While the mouse is over the bar, a button is down or tabs can be dragged,
// the bar paints itself as any tab bar does: hover and pressed looks are not
// cached. Tab buttons and scroll arrows are child widgets and paint
// themselves.

#include <QPixmap>
#include <QTabBar>

#include <vector>

class CachedTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit CachedTabBar(QWidget *parent = nullptr);

    // Images kept, one per state; the least recently painted goes first.
    static constexpr int kKeptStates = 4;
    int keptStates() const { return int(m_kept.size()); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;
    void tabLayoutChange() override;

private:
    struct Kept
    {
        QByteArray state;
        QPixmap image;
    };
    bool paintsItself() const;
    void keepCurrentState();
    QByteArray currentState() const;
    void forget() { m_kept.clear(); }

    std::vector<Kept> m_kept;   // the most recently painted first
    bool m_rendering = false;
};
