#include "CorvelEncoder/platform/QuitSignals.h"
#include "CorvelEncoder/ui/LinuxDesktopServices.h"

#include "tests/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <csignal>

namespace corvel {
namespace {

TEST(QuitSignals, TerminationSignalsArriveInTheEventLoopOnceAndOnlyInTheFirstInstance)
{
    QuitSignals signals_;
    ASSERT_TRUE(signals_.isActive());
    EXPECT_FALSE(QuitSignals().isActive());
    QSignalSpy spy(&signals_, &QuitSignals::quitRequested);
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        ASSERT_EQ(::raise(number), 0); // would end the process without the handler
        ASSERT_TRUE(spy.wait(1000));
        EXPECT_EQ(spy.takeFirst().value(0).toInt(), number);
    }
    EXPECT_TRUE(spy.isEmpty());
}

TEST(LinuxDesktopServices, WithoutAFileManagerRevealOpensEachFolderOnceAndReportsFailures)
{
    LinuxDesktopServices desktop;
    QList<QUrl> opened;
    QStringList reports;
    desktop.setFolderOpener([&](const QUrl& folder) {
        opened.append(folder);
        return folder.path() == u"/tmp/a";
    });
    desktop.setFailureReporter([&](const QString& message) { reports.append(message); });
    desktop.revealFiles({u"/tmp/a/one.mov"_s, u"/tmp/b/two.mov"_s, u"/tmp/a/three.mov"_s});
    EXPECT_EQ(opened,
              (QList<QUrl>{QUrl::fromLocalFile(u"/tmp/a"_s), QUrl::fromLocalFile(u"/tmp/b"_s)}));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(u"/tmp/b")) << qPrintable(reports[0]);
}

// Types each name into the Add chooser and presses Open, as a user would; a chooser still
// open afterwards is cancelled, so a refusal shows as an empty result instead of a hang.
TEST(LinuxDesktopServices, AddChooserTakesFoldersAndFilesWithItsMessageAboveTheList)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"Rushes"_s));
    ASSERT_TRUE(testing::writeFile(dir.filePath(u"a.mov"_s), {}));
    OpenPanelRequest request{u"Add to Queue"_s,    u"Choose footage."_s, true, true, false, true,
                             {u"Movies (*.mov)"_s}};
    LinuxDesktopServices desktop;
    for (const QString& name : {u"Rushes"_s, u"a.mov"_s}) {
        SCOPED_TRACE(name.toStdString());
        bool messageAbove = false;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* files = modal ? modal->findChild<QFileDialog*>() : nullptr;
            files = files ? files : qobject_cast<QFileDialog*>(modal);
            if (!files)
                return;
            driver.stop();
            const int listTop =
                files->findChild<QListView*>(u"listView"_s)->mapTo(modal, QPoint()).y();
            for (const QLabel* label : modal->findChildren<QLabel*>())
                messageAbove |=
                    label->text() == request.message && label->mapTo(modal, QPoint()).y() < listTop;
            files->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(dir.filePath(name));
            files->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
            QTimer::singleShot(0, modal, [modal] {
                if (modal->isVisible())
                    static_cast<QDialog*>(modal)->reject();
            });
        });
        driver.start(10);
        QStringList chosen;
        desktop.openPanel(request, [&](const QStringList& paths) { chosen = paths; });
        EXPECT_EQ(chosen, QStringList{dir.filePath(name)});
        EXPECT_TRUE(messageAbove);
    }
}

} // namespace
} // namespace corvel
