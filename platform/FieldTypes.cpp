#include "platform/FieldTypes.h"

#include <QStringList>

namespace opd {

QString inputMaskForLineEdit(const QString &editMask)
{
    const QStringList parts = editMask.split(QLatin1Char(';'));
    if (parts.size() < 3)
        return editMask;
    // A ';' inside the body would be escaped; masks here never carry one,
    // so the last two parts are the flag and the blank.
    const QString blank = parts.last().isEmpty() ? QStringLiteral(" ") : parts.last().left(1);
    QString body = parts.mid(0, parts.size() - 2).join(QLatin1Char(';'));
    // A leading '!' trims blanks on the other side; for QLineEdit it only
    // switches case conversion off, which is what the mask means anyway.
    return body + QLatin1Char(';') + blank;
}

} // namespace opd
