// cli.h - tslcat-cli's command runner, separate from main() so the commands
// can be read on their own.
#pragma once

#include <QStringList>

namespace tslcat::cli {

// Runs one command line (arguments without the program name's handling
// beyond QCommandLineParser's).  Returns the process exit status.
int Run(const QStringList &arguments);

} // namespace tslcat::cli
