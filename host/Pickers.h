#pragma once
// The host's list dialogs.
//
// List-text format of PesquisaLista: the chosen keys, each between single
// quotes with any quote inside doubled, separated by commas, in the order of
// the rows: 'A','B''C'. Empty text: nothing chosen. The application server
// parses it strictly (server side: appserver/ListText).

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
