#include "host/HostPaths.h"

#include "opd/BuildConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStandardPaths>

namespace HostPaths {

namespace {

const QString kConfigName = QStringLiteral("opd.ini");
const QString kSystemConfigDir = QStringLiteral("/etc/opd");

// QLibrary accepts a base name and tries the platform's decorations; to tell
// whether a folder holds the package the decorated name is checked, the one
// the build and the install rules produce.
QString packageFileIn(const QString &dir)
{
    return QDir(dir).filePath(QStringLiteral("lib") + packageBaseName() + QStringLiteral(".so"));
}

} // namespace

QString packageBaseName()
{
    return QStringLiteral("Pkg_opd31000");
}

QStringList packageDirs(const QString &applicationDir)
{
    const QDir bin(applicationDir);
    return {QDir::cleanPath(bin.filePath(QStringLiteral(OPD_PACKAGE_DIR_FROM_BIN))),
            QDir::cleanPath(applicationDir)};
}

QString packagePath(const QString &packageFile, const QString &packageDir,
                    const QString &applicationDir)
{
    if (!packageFile.isEmpty())
        return packageFile;
    if (!packageDir.isEmpty())
        return QDir(packageDir).filePath(packageBaseName());
    const QStringList dirs = packageDirs(applicationDir);
    for (const QString &dir : dirs) {
        const QString file = packageFileIn(dir);
        if (QFileInfo(file).isFile())
            return file;
    }
    return QDir(dirs.first()).filePath(packageBaseName());
}

QStringList configCandidates()
{
    QStringList dirs;
    // The user's own folders first, before any folder of the system.
    dirs << QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
         << QStandardPaths::writableLocation(QStandardPaths::ConfigLocation);
    dirs << QStandardPaths::standardLocations(QStandardPaths::AppConfigLocation)
         << QStandardPaths::standardLocations(QStandardPaths::ConfigLocation);
    dirs << kSystemConfigDir;
    QStringList files;
    for (const QString &dir : std::as_const(dirs)) {
        if (dir.isEmpty())
            continue;
        const QString file = QDir::cleanPath(QDir(dir).filePath(kConfigName));
        if (!files.contains(file))
            files << file;
    }
    return files;
}

QString findConfig()
{
    const QStringList files = configCandidates();
    for (const QString &file : files) {
        // An existing file that cannot be read is still the one meant: the
        // caller's read reports it rather than a file further down winning.
        if (QFileInfo(file).isFile())
            return file;
    }
    return QString();
}

} // namespace HostPaths
