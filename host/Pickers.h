#pragma once
// The host's list dialogs.
//
// PesquisaLista leaves the chosen keys, in the order of the rows, as a list
// text ('A','B''C'; empty: nothing chosen). Its one writer and reader, shared
// with the application server, and the format's rules are in
// platform/ListText.h.

#include <QString>
#include <functional>

namespace opd { class DataSource; class ClientDataSet; }

// Multi-select picker over the data source's rows; pre-marks the keys in
// `list`; on OK writes the marked keys to `list`; on close without OK leaves
// `list` as it was. Returns true on OK.
bool PesquisaLista(opd::DataSource *source, const QString &keyField, const QString &title,
                   bool flag, QString &list);

// Single-pick dialog; `text` is "title|empty-list text". Returns true when a
// row was picked, the data set standing on it. An empty data set shows the
// empty-list text and returns false.
bool Pesquisar_Plus(opd::DataSource *source, const QString &text, bool flag1, bool flag2);

// Find dialog over an open data set: moves the cursor to the first row
// whose chosen column contains the typed text.
void Procura(opd::ClientDataSet *dataSet);

// Tests replace the dialogs: each hook, when set, runs instead of the dialog
// with the same arguments.
struct PickerHooks
{
    std::function<bool(opd::DataSource *, const QString &, const QString &, QString &)> pesquisaLista;
    std::function<bool(opd::DataSource *, const QString &)> pesquisarPlus;
    std::function<void(opd::ClientDataSet *)> procura;
};
PickerHooks &pickerHooks();

// Index of the first visible row whose field (by index) shows the text,
// ignoring case; -1 when none. What the find dialog runs on OK.
int findRowContaining(opd::ClientDataSet *dataSet, int fieldIndex, const QString &text);
