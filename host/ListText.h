#pragma once
// The list text of the multi-select picker: keys between single quotes, a
// quote inside a key doubled, separated by commas: 'A','B''C'. The empty text
// is the empty list. Keys may hold commas and blanks; nothing is trimmed.

#include <QString>
#include <QStringList>

namespace ListText {

QString join(const QStringList &keys);
// Strict reader: returns false with a message for anything that is not the
// format above (unquoted key, missing comma, unterminated quote, trailing
// text), leaving *keys untouched.
bool parse(const QString &text, QStringList *keys, QString *error);

} // namespace ListText
