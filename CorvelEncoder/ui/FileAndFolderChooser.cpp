#include "CorvelEncoder/ui/FileAndFolderChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

namespace corvel {

namespace {

// Open takes existing files and folders alike; anything else goes to the dialog, which
// says what is wrong.
class FilesAndFoldersDialog final : public QFileDialog
{
public:
    FilesAndFoldersDialog(QWidget* parent, QStringList* chosen)
        : QFileDialog(parent), m_chosen(chosen)
    {}

    void accept() override
    {
        const QStringList paths = selectedFiles();
        if (paths.isEmpty())
            return;
        for (const QString& path : paths) {
            if (!QFileInfo::exists(path)) {
                QFileDialog::accept();
                return;
            }
        }
        *m_chosen = paths;
        done(QDialog::Accepted);
    }

private:
    QStringList* m_chosen;
};

} // namespace

FileAndFolderChooser::FileAndFolderChooser(const QString& title, const QString& message,
                                           const QStringList& nameFilters, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fileAndFolderChooser"));
    setWindowTitle(title);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 4);
    if (!message.isEmpty()) {
        auto* note = new QLabel(message, this);
        note->setObjectName(QStringLiteral("chooserMessage"));
        note->setWordWrap(true);
        column->addWidget(note);
    }

    m_files = new FilesAndFoldersDialog(this, &m_chosen);
    // The desktop's own dialog cannot take a folder and files from one Open.
    m_files->setOption(QFileDialog::DontUseNativeDialog);
    m_files->setWindowFlags(Qt::Widget);
    m_files->setFileMode(QFileDialog::ExistingFiles);
    m_files->setDirectory(QDir::homePath());
    if (!nameFilters.isEmpty())
        m_files->setNameFilters(nameFilters);
    // Folders must stay visible and choosable whatever the name filter.
    m_files->setFilter(m_files->filter() | QDir::AllDirs);
    connect(m_files, &QDialog::finished, this, &QDialog::done);
    column->addWidget(m_files, 1);
    resize(760, 520);
}

FileAndFolderChooser::~FileAndFolderChooser() = default;

} // namespace corvel
