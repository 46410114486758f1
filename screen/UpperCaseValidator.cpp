#include "screen/UpperCaseValidator.h"

UpperCaseValidator::UpperCaseValidator(int maxLength, QObject *parent)
    : QValidator(parent), m_maxLength(maxLength)
{
}

QValidator::State UpperCaseValidator::validate(QString &input, int &) const
{
    // Upper-casing here rather than with an input mask: a mask would drop
    // the blanks the clerk types around a code, and those are kept.
    input = input.toUpper();
    return input.size() <= m_maxLength ? Acceptable : Invalid;
}

void UpperCaseValidator::fixup(QString &input) const
{
    input = input.toUpper().left(m_maxLength);
}
