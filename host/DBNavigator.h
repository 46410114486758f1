#pragma once
// The base screen's navigator: first / prior / next / last over a data
// source's data set, each button enabled only when the move is possible.

#include <QWidget>

class QToolButton;
namespace opd { class DataSource; class ClientDataSet; }

class DBNavigator : public QWidget
{
    Q_OBJECT
public:
    explicit DBNavigator(QWidget *parent = nullptr);
    void setDataSource(opd::DataSource *source);

    QToolButton *firstButton() const { return m_buttons[0]; }
    QToolButton *priorButton() const { return m_buttons[1]; }
    QToolButton *nextButton() const { return m_buttons[2]; }
    QToolButton *lastButton() const { return m_buttons[3]; }

private:
    void rebind();
    void refresh();
    opd::ClientDataSet *dataSet() const;

    opd::DataSource *m_source = nullptr;
    QList<QMetaObject::Connection> m_links;
    QToolButton *m_buttons[4];
};
