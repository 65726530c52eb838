#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <cstdio>
#include <memory>

namespace corvel {

// Tells the user what the encoder does. Main thread only.
class CliReporter
{
public:
    virtual ~CliReporter() = default;

    virtual void added(const EncodingJob& job) = 0;
    // A dry run's job: what would be encoded.
    virtual void planned(const EncodingJob& job) = 0;
    virtual void progress(const EncodingJob& job) = 0;
    virtual void ready(const EncodingJob& job) = 0;
    virtual void finished(const EncodingJob& job) = 0;
    virtual void failed(const EncodingJob& job) = 0;
    virtual void cancelled(const EncodingJob& job) = 0;
    virtual void log(const QString& text, bool isError) = 0;
    virtual void banner(const QString& text) = 0;
    // Called once before the process ends.
    virtual void done() {}
};

// One JSON object per line on `out`, nothing else.
std::unique_ptr<CliReporter> makeJsonReporter(FILE* out);
// Lines for people. On a terminal the running jobs keep one live line each; elsewhere every
// line is plain text. Errors go to `err`.
std::unique_ptr<CliReporter> makeTextReporter(FILE* out, FILE* err, bool terminal);

// The live line of a running job: name, bar, percent, time left, encoder. `width` is the
// terminal width.
QString progressLine(const EncodingJob& job, int width);

} // namespace corvel
