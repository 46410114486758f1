#pragma once
// The one error channel of the user-interface side.
//
// A handler that finds a fault shows it (the host's MensErro) and then throws
// Abort: the running handler ends there and nothing more is shown. A handler
// that only wants to refuse an operation quietly (a before-insert that allows
// no new rows) throws Abort too, without showing anything first.
//
// Exceptions never cross Qt's event dispatch: every entry point from Qt
// (slot, event override, hook) runs its body through opd::guarded(), which
// swallows Abort and reports anything else through the reporter that the
// host installs.

#include <QString>
#include <exception>
#include <functional>
#include <stdexcept>

namespace opd {

// Ends the running handler. Carries the text that was already shown, if any,
// so that tests can see what the user saw.
class Abort : public std::exception
{
public:
    Abort() = default;
    explicit Abort(QString shown) : m_shown(std::move(shown)) {}
    const char *what() const noexcept override { return "operation abandoned"; }
    const QString &shownText() const { return m_shown; }

private:
    QString m_shown;
};

// A fault of the data layer (bad packet, unknown field, illegal state).
// Not yet shown to anybody.
class DataSetError : public std::runtime_error
{
public:
    explicit DataSetError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// A remote call that failed as a call: no connection, no answer, an answer
// that is not one, or the server's error object (unknown method, bad
// arguments). Not yet shown to anybody. A call the server answered with
// {"ok": false, ...} is a result, not this error.
class RemoteCallError : public std::runtime_error
{
public:
    explicit RemoteCallError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// [[noreturn]] helper for a silent refusal.
[[noreturn]] inline void abortSilently() { throw Abort(); }

using ErrorReporter = std::function<void(const QString &)>;
// Installed by the host (a message box); the default logs it on opd.platform.
void setUnhandledErrorReporter(ErrorReporter reporter);
void reportUnhandledError(const QString &message);

// Runs fn at a Qt entry point. Returns false when fn ended by an exception.
template<typename Fn>
bool guarded(Fn &&fn) noexcept
{
    try {
        fn();
        return true;
    } catch (const Abort &) {
        return false;
    } catch (const DataSetError &e) {
        reportUnhandledError(e.message());
        return false;
    } catch (const std::exception &e) {
        reportUnhandledError(QString::fromUtf8(e.what()));
        return false;
    } catch (...) {
        reportUnhandledError(QStringLiteral("Erro inesperado."));
        return false;
    }
}

} // namespace opd
