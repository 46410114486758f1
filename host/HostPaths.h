#pragma once
// Where the host finds its screen package and its configuration file.
//
// Package: `--package FILE` wins; then `--package-dir DIR`; otherwise the
// installed library folder (<prefix>/<libdir>/opd31000/packages, found
// relative to the executable so that a DESTDIR or a relocated tree works as
// well as /usr) and then the executable's own folder (the build tree).
//
// Configuration without `--config`: the first opd.ini among the
// user's QStandardPaths folders (AppConfigLocation, then ConfigLocation), the
// system ones of the same kinds (XDG_CONFIG_DIRS), then /etc/opd/.

#include <QString>
#include <QStringList>

namespace HostPaths {

// The package's base name; QLibrary adds the platform's prefix and suffix.
QString packageBaseName();
// Folders searched for the package when neither option is given, in order.
QStringList packageDirs(const QString &applicationDir);
// The file to hand to QLibrary. When no searched folder holds the package,
// the first one's path, so the load error names where it was expected.
QString packagePath(const QString &packageFile, const QString &packageDir,
                    const QString &applicationDir);

// Candidate opd.ini paths, in the order they are tried, without duplicates.
// Uses the application name, so call it once the application object exists.
QStringList configCandidates();
// The first candidate that is a file (readable or not), or empty.
QString findConfig();

} // namespace HostPaths
