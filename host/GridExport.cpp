#include "host/GridExport.h"

#include "grid/DBGrid.h"

#include <QSaveFile>

namespace GridExport {

namespace {

QString csvCell(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QByteArray toCsv(opd::DBGrid *grid)
{
    QString out;
    opd::ClientDataSet *ds = (grid && grid->dataSource()) ? grid->dataSource()->dataSet() : nullptr;
    if (!ds)
        return QByteArray();
    QList<int> fields;
    QStringList titles;
    for (const auto &column : grid->columns()) {
        opd::Field *field = ds->findField(column.fieldName);
        if (!field)
            continue;
        fields.append(field->index());
        titles.append(csvCell(column.title.isEmpty() ? field->displayLabel() : column.title));
    }
    out += titles.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    const int rows = ds->isActive() ? ds->recordCount() : 0;
    for (int row = 0; row < rows; ++row) {
        QStringList cells;
        for (int field : fields)
            cells.append(csvCell(ds->displayTextAt(row, field)));
        out += cells.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

bool save(opd::DBGrid *grid, const QString &fileName, QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(toCsv(grid)) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("Não foi possível gravar '%1': %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

} // namespace GridExport
