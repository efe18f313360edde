// The text editor on a freedesktop desktop: the application that the
// mimeapps.list files name as default for text/plain, else the first of a
// few well-known editors found on PATH.
#include "desktopservices.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace tslcat {

namespace {

QStringList EnvDirs(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    QStringList dirs = (value.isEmpty() ? fallback : value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

QString DefaultTextPlainEntry()
{
    const QString home = QDir::homePath();
    QStringList lists;
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    lists << configHome + QStringLiteral("/mimeapps.list");
    for (const QString &dir : EnvDirs("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")))
        lists << dir + QStringLiteral("/mimeapps.list");
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    QStringList dataDirs{dataHome};
    dataDirs += EnvDirs("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString &dir : std::as_const(dataDirs)) {
        lists << dir + QStringLiteral("/applications/mimeapps.list");
        lists << dir + QStringLiteral("/applications/defaults.list");
    }
    for (const QString &listPath : std::as_const(lists)) {
        QFile file(listPath);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        bool inDefaults = false;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(QLatin1Char('['))) {
                inDefaults = line == QLatin1String("[Default Applications]");
                continue;
            }
            if (!inDefaults || !line.startsWith(QLatin1String("text/plain=")))
                continue;
            const QStringList entries = line.mid(11).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            for (const QString &entry : entries) {
                for (const QString &dir : std::as_const(dataDirs)) {
                    const QString desktopFile = dir + QStringLiteral("/applications/") + entry.trimmed();
                    if (QFile::exists(desktopFile))
                        return desktopFile;
                }
            }
        }
    }
    return QString();
}

QString ExecOf(const QString &desktopFile)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (inEntry && line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return QString();
}

} // namespace

QStringList TextEditorCommand(const QString &path)
{
    const QString entry = DefaultTextPlainEntry();
    if (!entry.isEmpty()) {
        const QStringList command = ExpandExecLine(ExecOf(entry), path);
        if (!command.isEmpty() && !QStandardPaths::findExecutable(command.first()).isEmpty())
            return command;
    }
    static const char *const kEditors[] = {
        "gnome-text-editor", "gedit",   "kate",  "kwrite",    "mousepad", "pluma", "xed",
        "featherpad",        "leafpad", "geany", "notepadqq",
    };
    for (const char *editor : kEditors) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(editor));
        if (!program.isEmpty())
            return {program, path};
    }
    return {};
}

} // namespace tslcat
