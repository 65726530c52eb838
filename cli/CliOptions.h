#pragma once

#include "CorvelEncoderCore/JobFileReadings.h"

#include <QString>
#include <QStringList>

#include <expected>
#include <optional>

namespace corvel {

// One of N equal shares of a batch; `index` counts from 1.
struct Shard
{
    int index = 1;
    int count = 1;
};

// What the command line asked for.
struct CliOptions
{
    // The job settings given on the command line, read with the job-file readings. They are
    // applied over every job, after its own file, link or defaults.
    PartialFields overrides;
    std::optional<int> parallel; // 1...4
    std::optional<Shard> shard;
    bool skipExisting = false; // leave out jobs whose output is already there, complete
    bool dryRun = false;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool listPresets = false;
    bool help = false;
    bool version = false;
    std::optional<QString> watchFolder;    // absolute
    bool watchExisting = false;            // also encode what the watch folder holds already
    std::optional<QString> stateDirectory; // absolute
    QStringList inputs;                    // as given, in order

    bool hasOverrides() const { return overrides != PartialFields{}; }
};

// Reads `arguments` (the program path first). Relative paths are taken against
// `workingDirectory`. Fails with the message for the user; a bad setting value gives the same
// text a job file with that value would.
std::expected<CliOptions, QString> parseCliOptions(const QStringList& arguments,
                                                   const QString& workingDirectory);

// The text of --help.
QString cliUsage();

} // namespace corvel
