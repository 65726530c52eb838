#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace corvel {

// Control characters shown as escapes: a newline or an escape sequence in a file name must not
// break a line apart or drive the terminal. Only colour codes (ESC [ digits m) pass.
QString escapedControls(const QString& text);
// One line, escaped, flushed at once: scripts and logs read the lines as they come.
void writeLine(FILE* out, const QString& text);
// An input that gave no job, with the reason.
QString skippedText(const QString& input, const QString& reason);

// The human form of every message, each said once: the queue logs a failure in the same
// words the failed job carries, and a job file's error is both logged and shown as a banner.
class MessageLines
{
public:
    explicit MessageLines(FILE* err) : m_err(err) {}

    bool isNew(const QString& text);
    // Records the failure; false when enough failures of the same words were shown already,
    // so a job file of 100,000 missing sources prints a few lines and a count, not 100,000.
    bool failure(const EncodingJob& job);
    // One line for each kind of failure that was not shown every time.
    QStringList unshownFailures() const;
    FILE* err() const { return m_err; }
    const QString& last() const { return m_last; }

private:
    static constexpr int kShownAlike = 5;
    FILE* m_err;
    QString m_last;
    QSet<QString> m_failures;
    QHash<QString, qsizetype> m_alike;
    QStringList m_alikeOrder;
};

} // namespace corvel
