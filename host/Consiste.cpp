#include "host/Consiste.h"

#include "host/HostApplication.h"
#include "grid/DBGrid.h"
#include "platform/Dates.h"
#include "platform/Field.h"

#include <QMessageBox>
#include <QVariantMap>

namespace Consiste {

namespace {

MessageSink &currentSink()
{
    static MessageSink sink;
    return sink;
}

void showInMessageBox(const QString &text)
{
    QMessageBox::critical(HostApplication::mainForm(), QStringLiteral("Erro"), text);
}

} // namespace

bool EmptyString(const QString &text)
{
    return text.trimmed().isEmpty();
}

MessageSink setMessageSink(MessageSink sink)
{
    MessageSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

void showError(const QString &text)
{
    if (currentSink())
        currentSink()(text);
    else
        showInMessageBox(text);
}

void MensErro(const QString &text, bool)
{
    // The flag exists for callers written against the old signature; every
    // caller relies on the call ending the handler, so it always throws.
    showError(text);
    throw opd::Abort(text);
}

QVariant CheckResultServ(const QVariant &result, bool abort, int)
{
    // Anything that is not the documented result shape is treated as a
    // failure: a payload of unknown meaning must never be taken as success.
    const bool isMap = result.metaType().id() == QMetaType::QVariantMap;
    const QVariantMap map = isMap ? result.toMap() : QVariantMap();
    const QVariant ok = map.value(QStringLiteral("ok"));
    QString failure;
    if (!isMap || ok.metaType().id() != QMetaType::Bool) {
        failure = QStringLiteral("Resposta inválida do servidor.");
    } else if (!ok.toBool()) {
        failure = map.value(QStringLiteral("message")).toString().trimmed();
        if (failure.isEmpty())
            failure = QStringLiteral("O servidor recusou a operação sem informar o motivo.");
    } else {
        return map.value(QStringLiteral("payload"));
    }
    if (abort)
        MensErro(failure, true);
    showError(failure);
    return QVariant();
}

QString Ajusta(const QString &text, int width)
{
    QString digits;
    digits.reserve(text.size());
    for (QChar c : text) {
        if (c.isDigit())
            digits.append(c);
    }
    if (digits.isEmpty())
        return QString();
    // A number wider than the field is returned whole: cutting digits would
    // silently turn it into another order number.
    return digits.rightJustified(width, QLatin1Char('0'), false);
}

QString AllTrim(const QString &text)
{
    return text.trimmed();
}

QString GridText(opd::DBGrid *grid, const QString &fieldName, bool)
{
    if (!grid)
        return QString();
    return grid->cellText(fieldName.toUtf8());
}

void CheckDateTime(opd::Field *field, const QString &text)
{
    if (!field)
        throw opd::DataSetError(QStringLiteral("CheckDateTime sem campo."));
    // A masked date edit hands over its literals and blank characters even
    // when nothing was typed: such a text means "no date".
    QString typed = text;
    typed.remove(QLatin1Char('/')).remove(QLatin1Char('_'));
    if (typed.trimmed().isEmpty()) {
        field->clear();
        return;
    }
    const QDate date = QDate::fromString(text.trimmed(), QStringLiteral("dd/MM/yyyy"));
    if (!date.isValid() || opd::toDayCount(date) <= 0)
        MensErro(QStringLiteral("'%1' não é uma data válida.").arg(text), true);
    field->setAsDateTime(opd::toDayCount(date));
}

int IndiceCol(opd::DBGrid *grid, const QString &fieldName)
{
    if (!grid)
        return -1;
    return grid->columnIndexOfField(fieldName.toUtf8());
}

} // namespace Consiste
