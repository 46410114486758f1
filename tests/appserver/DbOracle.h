#pragma once
// Direct reads of the test database: the rows the search is checked against
// and a digest of everything a hostile request must leave alone.

#include "tests/support/DbLines.h"

#include <QCryptographicHash>
#include <QString>
#include <QStringList>
#include <vector>

struct OrderRow
{
    QString branch, number, customer, destination, seller;
    long long entry = 0, delivery = -1;   // -1: no delivery date
    int status = 0;
};

inline QByteArray databaseDigest(opd::db::Database &db)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const struct { const char *sql; int columns; } tables[] = {
        {"SELECT CDFILIAL, NRPEDIDO, CDCLIENTE, CDFILDEST, CDVENDEDOR, DTPEDIDO, DTENTPED, CDSTATUS"
         " FROM PEDIDO ORDER BY CDFILIAL, NRPEDIDO", 8},
        {"SELECT CDFILIAL, NRPEDIDO, NRITEMPED, CDPRODUTO, QTITEMPED, DSEMISSAOITPED FROM ITEMPEDIDO"
         " ORDER BY CDFILIAL, NRPEDIDO, NRITEMPED", 6},
        {"SELECT COUNT(*) FROM AUDITORIA", 1},
        {"SELECT CDFILIAL, NMFILIAL, IDCNTRRESC FROM FILIAL ORDER BY CDFILIAL", 3},
        {"SELECT COUNT(*) FROM CLIENTE", 1},
        {"SELECT COUNT(*) FROM PRODUTO", 1},
    };
    for (const auto &t : tables)
        hash.addData(selectLines(db, t.sql, t.columns).join(QLatin1Char('\n')).toUtf8());
    return hash.result();
}
