#pragma once
// The tab bar and the tool buttons of the base screen, painted from kept
// images (see KeptPaint.h). After a post the window repainted the page
// control's tab bar (45 us of its 100 us) and the commands whose enabling
// changed (the query button 15 us, each command 3-5 us).

#include "host/KeptPaint.h"

#include <QTabBar>
#include <QToolButton>

class CachedTabBar : public KeptPaint<QTabBar>
{
    Q_OBJECT
public:
    explicit CachedTabBar(QWidget *parent = nullptr) : KeptPaint<QTabBar>(parent) {}

protected:
    void addState(PaintState &state) const override;
    bool paintsLive() const override;
};

class CachedToolButton : public KeptPaint<QToolButton>
{
public:
    explicit CachedToolButton(QWidget *parent = nullptr) : KeptPaint<QToolButton>(parent) {}

protected:
    void addState(PaintState &state) const override;
};
