#pragma once

#include "cli/CliOptions.h"

#include <QStringList>

namespace corvel {

// Exit statuses of corvel-encode. A signal that interrupts the run gives 128 + its number, as
// a shell reports it: 130 for Ctrl-C, 143 for SIGTERM.
enum CliExit
{
    kExitFinished = 0,
    kExitFailed = 1, // a job failed or was cancelled, or an input gave no job
    kExitUsage = 2,
};

// Runs corvel-encode with `arguments` (the program path first) inside the running
// QCoreApplication and returns the exit status. The first SIGINT, SIGTERM or SIGHUP cancels
// every encode and removes its partial file; a second one ends the process at once.
int runCli(const QStringList& arguments);

} // namespace corvel
