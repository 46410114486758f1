#include "host/TDateEditPlus.h"

#include "platform/Dates.h"

#include <QDate>

namespace {

const QString &dateFormat()
{
    static const QString format = QStringLiteral("dd/MM/yyyy");
    return format;
}

} // namespace

TDateEditPlus::TDateEditPlus(QWidget *parent)
    : QLineEdit(parent)
{
    setInputMask(QStringLiteral("99/99/9999"));
    connect(this, &QLineEdit::textChanged, this, [this] {
        const bool valid = IsDateValid();
        QPalette pal = palette();
        pal.setColor(QPalette::Text, valid ? QColor(Qt::blue) : QColor(Qt::black));
        setPalette(pal);
        setToolTip(valid ? weekdayName() : QString());
    });
}

QDate TDateEditPlus::parseDate(const QString &text)
{
    const QDate date = QDate::fromString(text, dateFormat());
    // Day counts of 0 and below mean "no date" to every caller, so a date on
    // or before 30/12/1899 could never be used: it is refused as invalid
    // instead of being quietly dropped as an empty criterion.
    if (!date.isValid() || opd::toDayCount(date) <= 0)
        return QDate();
    return date;
}

bool TDateEditPlus::IsDateValid() const
{
    return parseDate(text()).isValid();
}

double TDateEditPlus::GetDate() const
{
    const QDate date = parseDate(text());
    return date.isValid() ? opd::toDayCount(date) : 0.0;
}

void TDateEditPlus::SetDate(double dayCount)
{
    if (!(dayCount >= 1.0)) {   // also catches NaN
        Clear();
        return;
    }
    const QDate date = opd::dateFromDayCount(dayCount);
    if (!date.isValid()) {
        Clear();
        return;
    }
    setText(date.toString(dateFormat()));
}

QString TDateEditPlus::EditText() const
{
    return displayText();
}

bool TDateEditPlus::isEmptyText() const
{
    QString typed = text();
    typed.remove(QLatin1Char('/'));
    return typed.trimmed().isEmpty();
}

void TDateEditPlus::Clear()
{
    clear();
}

QString TDateEditPlus::weekdayName() const
{
    const QDate date = parseDate(text());
    return date.isValid() ? weekdayName(date.dayOfWeek()) : QString();
}

QString TDateEditPlus::weekdayName(int qtDayOfWeek)
{
    switch (qtDayOfWeek) {
    case 1: return QStringLiteral("Segunda");
    case 2: return QStringLiteral("Terça");
    case 3: return QStringLiteral("Quarta");
    case 4: return QStringLiteral("Quinta");
    case 5: return QStringLiteral("Sexta");
    case 6: return QStringLiteral("Sábado");
    case 7: return QStringLiteral("Domingo");
    default: return QString();
    }
}
