#pragma once

#include <QDialog>
#include <QStringList>

class QFileDialog;

namespace corvel {

// One chooser for files and folders together, as "Add to Queue" needs: a Qt file dialog whose
// Open takes whatever is selected or typed, folders included (a plain file dialog enters a
// folder instead of choosing it, and a folder dialog hides the files), with the request's
// message above the list. Double-clicking a folder still opens it. Main thread.
class FileAndFolderChooser final : public QDialog
{
    Q_OBJECT

public:
    FileAndFolderChooser(const QString& title, const QString& message,
                         const QStringList& nameFilters, QWidget* parent = nullptr);
    ~FileAndFolderChooser() override;
    Q_DISABLE_COPY_MOVE(FileAndFolderChooser)

    QFileDialog* fileDialog() const { return m_files; }
    // What Open took, once the chooser is accepted.
    QStringList chosenPaths() const { return m_chosen; }

private:
    QFileDialog* m_files = nullptr;
    QStringList m_chosen;
};

} // namespace corvel
