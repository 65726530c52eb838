#include "CliTestSupport.h"

#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

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
                  int timeoutMs, const std::function<void()>& inChild, const QStringList& env,
                  int columns, const QString& program)
{
    const QString encoder = program.isEmpty() ? QStringLiteral(CORVEL_ENCODE_PATH) : program;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& variable : QStringList{"HOME=" + home, "XDG_DATA_HOME=" + home + "/data",
                                               "XDG_CONFIG_HOME=" + home + "/config"} +
                                       env)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    if (inChild)
        process.setChildProcessModifier(inChild);
    if (columns > 0) {
        QString command = u"stty cols %1 rows 24; exec '%2'"_s.arg(columns).arg(encoder);
        for (const QString& arg : args)
            command += u" '"_s + QString(arg).replace(u'\'', u"'\\''"_s) + u'\'';
        process.start(u"script"_s, {u"-qec"_s, command, u"/dev/null"_s});
    } else {
        process.start(encoder, args);
    }
    CliRun run;
    if (!process.waitForStarted())
        return run;

    QByteArray pending;
    const QDeadlineTimer deadline(qint64(timeoutMs) * kSlowBuildFactor);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
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

QList<QJsonObject> eventsNamed(const CliRun& run, const char* name)
{
    static const QSet<QString> kinds = {"added",     "progress", "ready",  "finished", "failed",
                                        "cancelled", "log",      "banner", "skipped",  "summary"};
    QList<QJsonObject> some;
    for (const QByteArray& line : run.lines()) {
        const QJsonObject event = parseLine(line);
        const QString kind = event.value(u"event"_s).toString();
        EXPECT_TRUE(kinds.contains(kind)) << "not an event line: " << line.toStdString();
        if (kind == QLatin1StringView(name))
            some.append(event);
    }
    return some;
}

} // namespace corvel::clitest
