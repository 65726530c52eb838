#pragma once

#include "cli/CliOptions.h"

#include <QObject>
#include <QStringList>

namespace corvel {

// Exit statuses of corvel-encode.
enum CliExit
{
    kExitFinished = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitInterrupted = 130,
};

// Runs corvel-encode with `arguments` (the program path first) inside the running
// QCoreApplication and returns the exit status. Installs handlers for SIGINT and SIGTERM: the
// first cancels every encode and removes its partial file, a second one ends the process at
// once.
int runCli(const QStringList& arguments);

} // namespace corvel
