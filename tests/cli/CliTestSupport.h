#pragma once

#include "tests/TestSupport.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace corvel::clitest {

using namespace corvel::testing;
// The JSON object on one line (an event), or an empty object when the line is not one.
inline QJsonObject parseLine(const QByteArray& line)
{
    return QJsonDocument::fromJson(line).object();
}

struct CliRun
{
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;

    // stdout split into lines, without the empty tail.
    QList<QByteArray> lines() const;
};

// Runs corvel-encode with `args` in `workingDirectory`. HOME and XDG_DATA_HOME point below
// `home`, so nothing of the user running the tests is read or written. `whileRunning` is
// called with each stdout line as it arrives and may send the process a signal.
// `inChild` runs in the child between fork and exec, to set limits or drop privileges. `env`
// adds NAME=value variables. With `columns`, the encoder runs on a pseudo-terminal that wide
// (through script(1)), whose output, stderr included, arrives as `out`. `program` is the
// encoder built with the tests unless given.
CliRun runEncoder(const QStringList& args, const QString& workingDirectory, const QString& home,
                  const std::function<void(const QByteArray& line, qint64 pid)>& whileRunning = {},
                  int timeoutMs = 60000, const std::function<void()>& inChild = {},
                  const QStringList& env = {}, int columns = 0, const QString& program = {});

// The JSON events called `name` on stdout; every line must be an event of a known kind.
QList<QJsonObject> eventsNamed(const CliRun& run, const char* name);

// A scratch folder to run the encoder in, with a home of its own below it.
class CliTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(m_home)); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // runEncoder in the scratch folder with its home.
    CliRun
    runHere(const QStringList& args,
            const std::function<void(const QByteArray& line, qint64 pid)>& whileRunning = {}) const
    {
        return runEncoder(args, m_dir.path(), m_home, whileRunning);
    }

    QTemporaryDir m_dir;
    QString m_home = m_dir.filePath(u"home"_s);
};

} // namespace corvel::clitest
