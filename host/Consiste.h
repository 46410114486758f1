#pragma once
// The host's check and error routines.

#include "platform/Exceptions.h"

#include <QString>
#include <QVariant>
#include <functional>

namespace opd { class DBGrid; class Field; }

namespace Consiste {

// True when the text holds no input: empty or only blanks (masked edits
// return blanks and literals for an empty mask; see the date edit's own test).
bool EmptyString(const QString &text);

// Shows the text as an error and throws opd::Abort. Never returns.
[[noreturn]] void MensErro(const QString &text, bool abort = true);

// Where MensErro's texts go: a modal message box by default. Tests install a
// sink that records them instead.
using MessageSink = std::function<void(const QString &text)>;
MessageSink setMessageSink(MessageSink sink);   // returns the previous one
void showError(const QString &text);            // through the sink, no throw

// Checks a raw remote-call result (server/RemoteResult.h). On a failure shows
// the server's message and throws opd::Abort; otherwise returns the payload.
QVariant CheckResultServ(const QVariant &result, bool abort = true, int flags = 0);

// Order number to the fixed width: digits right-aligned, padded with '0'
// ("123" -> "0000000123"); an empty or blank text stays empty.
QString Ajusta(const QString &text, int width);
QString AllTrim(const QString &text);

// Text the grid shows in the cell of the current row for the field.
QString GridText(opd::DBGrid *grid, const QString &fieldName, bool flag = false);
// Stores a dd/mm/yyyy text in a date-time field. A blank text empties the
// field; an invalid one is refused with MensErro ("'<text>' não é uma data válida.").
void CheckDateTime(opd::Field *field, const QString &text);
int IndiceCol(opd::DBGrid *grid, const QString &fieldName);

} // namespace Consiste
