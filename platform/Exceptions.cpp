#include "platform/Exceptions.h"

#include "platform/Log.h"

#include <QMutex>

namespace opd {

namespace {
QMutex reporterMutex;
ErrorReporter &reporterSlot()
{
    static ErrorReporter reporter;
    return reporter;
}
} // namespace

void setUnhandledErrorReporter(ErrorReporter reporter)
{
    QMutexLocker lock(&reporterMutex);
    reporterSlot() = std::move(reporter);
}

void reportUnhandledError(const QString &message)
{
    ErrorReporter reporter;
    {
        QMutexLocker lock(&reporterMutex);
        reporter = reporterSlot();
    }
    if (reporter) {
        // A reporter that throws must not take the event loop down with it:
        // guarded() promised that nothing escapes.
        try {
            reporter(message);
            return;
        } catch (...) {
        }
    }
    qCWarning(lcPlatform, "%s", qPrintable(message));
}

} // namespace opd
