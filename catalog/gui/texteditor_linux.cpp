// The text editor on a freedesktop desktop: the default application for
// text/plain as GIO finds it, else the first of a few well-known editors on
// PATH.

#include "desktopservices.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "gio_launch.h"

namespace tslcat {

QStringList KnownEditorCommand(const QString &path)
{
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

bool OpenInTextEditor(const QString &path)
{
    if (LaunchDefaultApplication("text/plain", QFile::encodeName(path).toStdString()))
        return true;
    const QStringList command = KnownEditorCommand(path);
    return !command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1));
}

} // namespace tslcat
