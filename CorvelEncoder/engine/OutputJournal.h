#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

namespace corvel {

// Output movies this process started writing and has not yet finished or given up, kept in a
// small append-only file. Their partial files (see ClaimedOutput) are hidden and are cleared by
// the next claim in their folder; the journal lets the next start clear them at once wherever
// they are, even in a folder nothing is written to again. Safe to use from any thread.
class OutputJournal final
{
public:
    explicit OutputJournal(QString path);

    // An encode started writing the movie named `output`; called once its partial file exists.
    void opened(const QString& output);
    // `output` is complete, or its partial file was removed.
    void settled(const QString& output);
    // Outputs opened and never settled, in the order they were opened.
    QStringList unsettled() const;
    // Removes the partial file of every unsettled output that no live process still writes,
    // then empties the journal. Returns the outputs whose partial files it removed.
    QStringList removeUnsettled();

private:
    void append(char mark, const QString& output);

    QString m_path;
    mutable std::mutex m_mutex;
};

} // namespace corvel
