#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QString>

#include <cstdio>
#include <memory>
#include <optional>

namespace corvel {

// How a run ended, for the closing line.
struct CliSummary
{
    int finished = 0;
    int failed = 0;
    int cancelled = 0;
    int skipped = 0;
    int alreadyEncoded = 0;
    qint64 elapsedMs = 0;
    qint64 bytesWritten = 0;
};

// How much the text output says.
enum class Verbosity
{
    quiet,   // errors only
    normal,  // errors, outcomes and progress
    verbose, // also every line of the activity log
};

// Tells the user what the encoder does. Main thread only.
class CliReporter
{
public:
    virtual ~CliReporter() = default;

    // A job of this run, in the order they will be numbered.
    virtual void added(const EncodingJob& job) = 0;
    // A dry run's job, its source read: what would be encoded, and where to.
    virtual void planned(const EncodingJob& job, const QString& output) = 0;
    virtual void progress(const EncodingJob& job) = 0;
    virtual void ready(const EncodingJob& job) = 0;
    virtual void finished(const EncodingJob& job) = 0;
    virtual void failed(const EncodingJob& job) = 0;
    virtual void cancelled(const EncodingJob& job) = 0;
    // An input that gave no job, and why.
    virtual void skipped(const QString& input, const QString& reason) = 0;
    // A job left out because a complete movie is already at `output`, its name.
    virtual void alreadyEncoded(const EncodingJob& job, const QString& output) = 0;
    virtual void log(const QString& text, bool isError) = 0;
    virtual void banner(const QString& text) = 0;
    // Called once before the process ends; no summary for a dry run.
    virtual void done(const std::optional<CliSummary>& summary) = 0;
};

// How the text lines are drawn on stdout.
struct TextStyle
{
    bool live = false;  // a terminal that redraws one status line with \r
    bool color = false; // escapes allowed
    int fd = -1;        // the terminal, asked for its width at each redraw when live
};

// The style stdout's terminal, TERM and NO_COLOR allow.
TextStyle textStyleFor(int fd);

// One JSON object per line on `out` for every event and message; `err` gets the messages as
// text too, so a person watching stderr still reads them.
std::unique_ptr<CliReporter> makeJsonReporter(FILE* out, FILE* err);
// Lines for people: outcomes and progress on `out`, errors and skipped inputs on `err`.
std::unique_ptr<CliReporter> makeTextReporter(FILE* out, FILE* err, TextStyle style,
                                              Verbosity verbosity);

// "1:05", "1:02:03", or "--:--" when not known.
QString clockText(std::optional<double> seconds);

} // namespace corvel
