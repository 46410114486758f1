#pragma once
// Page control whose pages can be disabled (a disabled page's tab cannot be chosen).

#include <QTabWidget>

class TTabSheet : public QWidget
{
    Q_OBJECT
public:
    explicit TTabSheet(QWidget *parent = nullptr) : QWidget(parent) {}
    QString caption;
    int imageIndex = -1;
};

class TCustomPageControl98 : public QTabWidget
{
    Q_OBJECT
public:
    explicit TCustomPageControl98(QWidget *parent = nullptr);
    void addPage(TTabSheet *page, const QString &caption);
    TTabSheet *activePage() const;
    void SetActivePage(TTabSheet *page);
    void setPageEnabled(TTabSheet *page, bool enabled);
    bool isPageEnabled(TTabSheet *page) const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
