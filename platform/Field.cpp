#include "platform/Field.h"

#include "platform/ClientDataSet.h"
#include "platform/Dates.h"
#include "platform/Exceptions.h"
#include "platform/Utf8.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace opd {

namespace {

bool isText(FieldType t)
{
    return t == FieldType::String || t == FieldType::FixedChar;
}

// Numbers as the user types them: comma or point as the decimal mark, no
// thousands grouping (a lone "1.500" would otherwise be ambiguous).
bool parseNumber(QString text, double *value)
{
    text = text.trimmed();
    if (text.count(QLatin1Char(',')) + text.count(QLatin1Char('.')) > 1)
        return false;
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

// "dd/mm/yyyy" with an optional "hh:mm" or "hh:mm:ss".
bool parseDate(const QString &text, double *value)
{
    static const QRegularExpression re(QStringLiteral(
        "^\\s*(\\d{1,2})/(\\d{1,2})/(\\d{4})(?:\\s+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!date.isValid())
        return false;
    QTime time(0, 0);
    if (m.hasCaptured(4)) {
        time = QTime(m.captured(4).toInt(), m.captured(5).toInt(),
                     m.hasCaptured(6) ? m.captured(6).toInt() : 0);
        if (!time.isValid())
            return false;
    }
    *value = toDayCount(QDateTime(date, time));
    return true;
}

// A masked date editor hands over its literals even when nothing was typed.
bool isBlankDateText(const QString &text)
{
    for (QChar c : text)
        if (c != QLatin1Char('/') && c != QLatin1Char(':') && c != QLatin1Char('_') && !c.isSpace())
            return false;
    return true;
}

} // namespace

Field::Field(ClientDataSet *dataSet, int index, FieldDef def)
    : m_dataSet(dataSet), m_index(index), m_def(std::move(def))
{
}

QString Field::displayLabel() const
{
    return m_def.label.isEmpty() ? QString::fromUtf8(m_def.name) : m_def.label;
}

int Field::displayWidth() const
{
    if (m_def.displayWidth > 0)
        return m_def.displayWidth;
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::FixedChar: return m_def.size;
    case FieldType::Float: return 10;
    case FieldType::DateTime: return 18;
    }
    return 10;
}

bool Field::isNull() const
{
    const int row = m_dataSet->recNo();
    return row < 0 || m_dataSet->isNullAt(row, m_index);
}

QByteArrayView Field::asUtf8() const
{
    const int row = m_dataSet->recNo();
    return row < 0 ? QByteArrayView() : m_dataSet->textAt(row, m_index);
}

QString Field::asString() const
{
    if (isText(m_def.type))
        return QString::fromUtf8(asUtf8());
    return displayText();
}

double Field::asFloat() const
{
    const int row = m_dataSet->recNo();
    if (row < 0)
        return 0;
    if (isText(m_def.type)) {
        double v = 0;
        if (!isNull() && !parseNumber(asString(), &v))
            throw DataSetError(QStringLiteral("\"%1\" não é um número válido.").arg(asString()));
        return v;
    }
    return m_dataSet->numberAt(row, m_index);
}

double Field::asDateTime() const
{
    return asFloat();
}

QString Field::displayText() const
{
    const int row = m_dataSet->recNo();
    return row < 0 ? QString() : m_dataSet->displayTextAt(row, m_index);
}

void Field::setAsUtf8(QByteArrayView utf8)
{
    if (m_def.readOnly)
        throw DataSetError(QStringLiteral("O campo \"%1\" não pode ser alterado.").arg(displayLabel()));
    if (!isText(m_def.type)) {
        setText(QString::fromUtf8(utf8));
        return;
    }
    const qsizetype chars = utf8::countChars(utf8);
    if (chars < 0)
        throw DataSetError(QStringLiteral("Texto inválido para o campo \"%1\".").arg(displayLabel()));
    if (chars > m_def.size)
        throw DataSetError(QStringLiteral("O campo \"%1\" aceita no máximo %2 caracteres.")
                               .arg(displayLabel()).arg(m_def.size));
    m_dataSet->setCell(m_index, utf8, utf8.isEmpty());
}

void Field::setAsString(const QString &text)
{
    if (isText(m_def.type)) {
        setAsUtf8(text.toUtf8());
        return;
    }
    // Own conversion only: onSetText is for text typed by the user.
    if (m_def.type == FieldType::DateTime ? isBlankDateText(text) : text.trimmed().isEmpty()) {
        clear();
        return;
    }
    double v = 0;
    const bool ok = m_def.type == FieldType::DateTime ? parseDate(text, &v) : parseNumber(text, &v);
    if (!ok)
        throw DataSetError(m_def.type == FieldType::DateTime
                               ? QStringLiteral("\"%1\" não é uma data válida.").arg(text)
                               : QStringLiteral("\"%1\" não é um número válido.").arg(text));
    setAsFloat(v);
}

void Field::setAsFloat(double value)
{
    if (m_def.readOnly)
        throw DataSetError(QStringLiteral("O campo \"%1\" não pode ser alterado.").arg(displayLabel()));
    if (isText(m_def.type)) {
        setAsUtf8(QString::number(value, 'g', 15).toUtf8());
        return;
    }
    m_dataSet->setNumber(m_index, value, std::isnan(value));
}

void Field::setAsDateTime(double dayCount)
{
    setAsFloat(dayCount);
}

void Field::clear()
{
    if (m_def.readOnly)
        throw DataSetError(QStringLiteral("O campo \"%1\" não pode ser alterado.").arg(displayLabel()));
    if (isText(m_def.type))
        m_dataSet->setCell(m_index, {}, true);
    else
        m_dataSet->setNumber(m_index, std::nan(""), true);
}

void Field::setText(const QString &text)
{
    if (onSetText) {
        onSetText(*this, text);
        return;
    }
    setAsString(text);
}

void Field::focusControl()
{
    emit m_dataSet->focusFieldRequested(this);
}

} // namespace opd
