#pragma once

#include "tests/TestSupport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

namespace corvel::clitest {

using testing::makeMovie;
using testing::parseJsonLine;

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
// `inChild` runs in the child between fork and exec, to set limits or drop privileges.
// `program` is the encoder built with the tests unless given.
CliRun runEncoder(const QStringList& args, const QString& workingDirectory, const QString& home,
                  const std::function<void(const QByteArray& line, qint64 pid)>& whileRunning = {},
                  int timeoutMs = 60000, const std::function<void()>& inChild = {},
                  const QString& program = QStringLiteral(CORVEL_ENCODE_PATH));

} // namespace corvel::clitest
