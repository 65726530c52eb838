#include "CliTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

namespace corvel::clitest {

QList<QByteArray> CliRun::lines() const
{
    QList<QByteArray> all = out.split('\n');
    if (!all.isEmpty() && all.last().isEmpty())
        all.removeLast();
    return all;
}

CliRun runEncoder(const QStringList& args, const QString& workingDirectory, const QString& home,
                  const std::function<void(const QByteArray& line, qint64 pid)>& whileRunning,
                  int timeoutMs, const std::function<void()>& inChild, const QString& program)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), QDir(home).filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir(home).filePath(QStringLiteral("config")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start(program, args);
    CliRun run;
    if (!process.waitForStarted())
        return run;

    QByteArray pending;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs) {
        process.waitForReadyRead(50);
        const QByteArray chunk = process.readAllStandardOutput();
        run.out += chunk;
        pending += chunk;
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (whileRunning)
                whileRunning(line, process.processId());
        }
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        run.crashed = true;
    }
    run.out += process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.crashed = run.crashed || process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    return run;
}

} // namespace corvel::clitest
