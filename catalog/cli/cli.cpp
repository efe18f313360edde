// cli.cpp - the commands of tslcat-cli.

#include "cli.h"

#include <QStringList>

namespace tslcat::cli {

int Run(const QStringList &arguments)
{
    (void)arguments;
    return 2;
}

} // namespace tslcat::cli
