#pragma once
// Search button bound to an edit: runs OnBeforePesq (which fills the data
// set), lists the data source's rows in a single-pick dialog titled Title,
// shows EmptyError when there are none, and on a pick writes the first
// column's value into the Associate edit, then runs OnAfterPesq.

#include <QLineEdit>
#include <QToolButton>
#include <functional>

namespace opd { class DataSource; }

class TBtnPesquisa : public QToolButton
{
    Q_OBJECT
public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);

    QLineEdit *Associate = nullptr;
    opd::DataSource *DataSource = nullptr;
    QString Title;
    QString EmptyError;
    std::function<void(QObject *sender, bool &cancel)> OnBeforePesq;
    std::function<void(QObject *sender)> OnAfterPesq;

    void pesquisar();   // what a click does
};
