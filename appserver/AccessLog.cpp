#include "appserver/AccessLog.h"

#include "appserver/Log.h"

namespace opd::appserver {

namespace {

// Names of modules and methods are dotted identifiers; anything else is the
// caller's text and could break the line (a newline would forge a second
// one), so it is masked and cut.
void appendName(QByteArray &line, QByteArrayView name)
{
    constexpr qsizetype kMax = 96;
    if (name.isEmpty()) {
        line += '-';
        return;
    }
    for (qsizetype i = 0; i < name.size() && i < kMax; ++i) {
        const char c = name[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '_' || c == '-';
        line += plain ? c : '?';
    }
    if (name.size() > kMax)
        line += "...";
}

// Users come from the token file: kept as written (accents and all), only
// blanks and control bytes masked so the line stays one line of fields.
void appendUser(QByteArray &line, std::string_view user)
{
    if (user.empty()) {
        line += '-';
        return;
    }
    for (const char c : user)
        line += (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) ? '?' : c;
}

} // namespace

QByteArray accessLine(const AccessRecord &record)
{
    QByteArray line;
    line.reserve(128);
    line += "method=";
    appendName(line, record.method);
    line += " status=";
    line += record.status.isEmpty() ? QByteArrayView("-") : record.status;
    line += " ms=";
    line += QByteArray::number(record.milliseconds, 'f', 1);
    line += " bytes=";
    line += QByteArray::number(record.answerBytes);
    line += " user=";
    appendUser(line, record.user);
    return line;
}

void logAccess(const AccessRecord &record)
{
    if (lcAccess().isInfoEnabled())
        qCInfo(lcAccess, "%s", accessLine(record).constData());
}

} // namespace opd::appserver
