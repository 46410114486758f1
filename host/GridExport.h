#pragma once
// Export of a data-aware grid to CSV: the grid's columns in their order and
// titles, every visible row of its data set, the texts as the grid shows them.
// Separator ';' (what spreadsheets of the users' locale expect); a cell with
// ';', '"' or a line break is quoted with '"' doubled. UTF-8 with a BOM.

#include <QString>

namespace opd { class DBGrid; }

namespace GridExport {

QByteArray toCsv(opd::DBGrid *grid);
// Writes atomically: the file is either the whole export or untouched.
bool save(opd::DBGrid *grid, const QString &fileName, QString *error);

} // namespace GridExport
