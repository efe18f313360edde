#include "desktopservices.h"

#include <QProcess>

namespace tslcat {

QStringList KnownEditorCommand(const QString &path)
{
    return {QStringLiteral("notepad.exe"), path};
}

bool OpenInTextEditor(const QString &path)
{
    return QProcess::startDetached(QStringLiteral("notepad.exe"), {path});
}

} // namespace tslcat
