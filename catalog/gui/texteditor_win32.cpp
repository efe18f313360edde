#include "desktopservices.h"

namespace tslcat {

QStringList TextEditorCommand(const QString &path)
{
    return {QStringLiteral("notepad.exe"), path};
}

} // namespace tslcat
