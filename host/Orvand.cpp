#include "host/Orvand.h"

#include "platform/DbUrl.h"

#include <QFileInfo>
#include <QFile>
#include <QMap>

namespace Orvand {

namespace {

// Option name -> INI key; both forms set the same member.
struct Setting
{
    const char *option;
    const char *iniKey;
    QString Environment::*text;   // nullptr for the port
    const char *description;      // UTF-8, for --help
};

const Setting kSettings[] = {
    {"server-host", "server/host", &Environment::webUrl, "Endereço do servidor de aplicação."},
    {"server-port", "server/port", nullptr, "Porta do servidor de aplicação (1 a 65535)."},
    {"token", "server/token", &Environment::token, "Token de acesso ao servidor de aplicação."},
    {"db", "database/url", &Environment::databaseUrl,
     "URL do banco das consultas (sqlite:CAMINHO ou postgresql://...)."},
    {"company", "login/company", &Environment::company, "Código da empresa."},
    {"branch", "login/branch", &Environment::branch, "Código da filial (até 4 caracteres)."},
    {"branch-name", "login/branchName", &Environment::branchName, "Nome da filial."},
    {"user", "login/user", &Environment::user, "Usuário."},
    {"product-picture", "pictures/product", &Environment::productPicture,
     "Máscara de edição do código de produto."},
};

const Setting *settingForOption(const QString &name)
{
    for (const Setting &s : kSettings) {
        if (name == QLatin1String(s.option))
            return &s;
    }
    return nullptr;
}

bool apply(Environment &env, const Setting &s, const QString &value, const QString &origin,
           QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(origin, why);
        return false;
    };
    if (!s.text) {
        bool ok = false;
        const int port = value.trimmed().toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return fail(QStringLiteral("porta inválida '%1' (esperado um número de 1 a 65535).").arg(value));
        env.webPort = port;
        return true;
    }
    const QString option = QLatin1String(s.option);
    if ((option == QLatin1String("server-host") || option == QLatin1String("company"))
        && value.trimmed().isEmpty())
        return fail(QStringLiteral("valor vazio."));
    if (option == QLatin1String("branch") && value.size() > 4)
        return fail(QStringLiteral("código de filial '%1' com mais de 4 caracteres.").arg(value));
    if (option == QLatin1String("db") && !value.isEmpty()) {
        opd::DbUrl url;
        std::string why;
        if (!opd::DbUrl::parse(value.toStdString(), &url, &why))
            return fail(QString::fromStdString(why));
    }
    env.*(s.text) = value;
    return true;
}

bool readIni(const QString &path, QMap<QString, QString> *values, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *why = file.errorString();
        return false;
    }
    return parseIni(file.readAll(), values, why);
}

} // namespace

// A plain INI reader: "[section]", "key=value", comments starting with ';'
// or '#'. Values are taken as written (trimmed; one pair of surrounding
// double quotes removed), so branch names with commas and Windows paths with
// backslashes arrive unchanged, which QSettings' escaping rules would not
// guarantee.
bool parseIni(QByteArrayView text, QMap<QString, QString> *values, QString *why)
{
    QMap<QString, QString> read;
    QString section;
    int lineNo = 0;
    for (QByteArrayView rest = text; !rest.isEmpty();) {
        ++lineNo;
        const qsizetype end = rest.indexOf('\n');
        const QByteArrayView raw = end < 0 ? rest : rest.first(end);
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                *why = QStringLiteral("linha %1: seção mal formada.").arg(lineNo);
                return false;
            }
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            *why = QStringLiteral("linha %1: esperado chave=valor.").arg(lineNo);
            return false;
        }
        QString value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        read.insert(section + QLatin1Char('/') + line.left(eq).trimmed(), value);
    }
    values->insert(read);
    return true;
}

Environment &environment()
{
    static Environment env;
    return env;
}

void reset()
{
    environment() = Environment();
}

QStringList optionNames()
{
    QStringList names;
    for (const Setting &s : kSettings)
        names.append(QLatin1String(s.option));
    return names;
}

QString optionDescription(const QString &name)
{
    const Setting *s = settingForOption(name);
    return s ? QString::fromUtf8(s->description) : QString();
}

bool load(const QString &configFile, const Options &options, QString *error)
{
    // Work on a copy so that a bad value leaves the running environment whole.
    Environment env = environment();
    if (!configFile.isEmpty()) {
        const QFileInfo info(configFile);
        if (!info.isFile() || !info.isReadable()) {
            if (error)
                *error = QStringLiteral("Arquivo de configuração '%1' não pode ser lido.").arg(configFile);
            return false;
        }
        QMap<QString, QString> ini;
        QString why;
        if (!readIni(configFile, &ini, &why)) {
            if (error)
                *error = QStringLiteral("Arquivo de configuração '%1': %2").arg(configFile, why);
            return false;
        }
        for (const Setting &s : kSettings) {
            const QString key = QLatin1String(s.iniKey);
            if (!ini.contains(key))
                continue;
            if (!apply(env, s, ini.value(key), QStringLiteral("%1 [%2]").arg(configFile, key), error))
                return false;
        }
    }
    for (const auto &[name, value] : options) {
        const Setting *s = settingForOption(name);
        if (!s) {
            if (error)
                *error = QStringLiteral("Opção desconhecida '--%1'.").arg(name);
            return false;
        }
        if (!apply(env, *s, value, QStringLiteral("--%1").arg(name), error))
            return false;
    }
    environment() = env;
    return true;
}

QString WebURL() { return environment().webUrl; }
int WebPort() { return environment().webPort; }
QString DBPict(TPictType) { return environment().productPicture; }
QString EmprProc() { return environment().company; }
QString FiliProc() { return environment().branch; }
QString NomeFiliProc() { return environment().branchName; }

} // namespace Orvand
