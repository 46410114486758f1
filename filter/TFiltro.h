#pragma once
// The filter record of the order search. It lives in the screen's unit
// (Cli_opd31000), not in the screen, so that it outlives a closed screen;
// the search rewrites it from the controls and hands it to GetPedido.
//
// Texts are owned strings; an empty text stands for no value. Dates are day
// counts (day 0 = 30/12/1899); 0 means no date.

#include <QString>

// Order-number criterion.
struct TNrPedido
{
    bool Intervalo = false;   // "Intervalo" was checked: De/Ate apply
    bool Todos = true;        // no list restriction ("Todos" and "Intervalo")
    QString De;               // text of medDeIntervalo, whatever the mode
    QString Ate;              // text of medAteIntervalo, whatever the mode
    QString Lista;            // copy of ListaNrPedido, whatever the mode
};

// Destination-branch criterion.
struct TFiliDest
{
    bool Todos = true;
    QString Lista;            // copy of ListaFiliDest
};

// Customer criterion.
struct TCliente
{
    bool Todos = true;
    QString Lista;            // copy of ListaCliente
};

struct TFiltro
{
    TNrPedido NrPedido;
    TFiliDest FiliDest;
    TCliente Cliente;
    bool TodasEntrega = true;   // true exactly when both delivery dates are 0
    double DeEntrega = 0;
    double AteEntrega = 0;
    bool TodasEmissao = true;   // true exactly when both order-entry dates are 0
    double DeEmissao = 0;
    double AteEmissao = 0;

    // Every field back to its default; the unit's list texts are not part of
    // the record and are left alone.
    void setDefaults() { *this = TFiltro(); }
};
