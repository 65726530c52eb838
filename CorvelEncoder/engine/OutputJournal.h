#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

namespace corvel {

// Output files this process created and has not yet finished or removed, kept in a small
// append-only file. A process killed mid-encode leaves its output file behind before anyone
// could record it anywhere else; the next start reads the journal and removes such files.
// Safe to use from any thread.
class OutputJournal final
{
public:
    explicit OutputJournal(QString path);

    // The encode created `output`; called right after the file exists.
    void opened(const QString& output);
    // `output` is complete, or was removed.
    void settled(const QString& output);
    // Files opened and never settled, in the order they were opened.
    QStringList unsettled() const;
    // Removes every unsettled file that `keep` does not claim, then empties the journal.
    // Returns the files removed.
    QStringList removeUnsettled(const std::function<bool(const QString&)>& keep);

private:
    void append(char mark, const QString& output);

    QString m_path;
    mutable std::mutex m_mutex;
};

} // namespace corvel
