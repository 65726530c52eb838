#pragma once

// Helpers every suite shares: waiting for a state, files and movies made with ffmpeg.

#include "tests/QtPrinters.h"
#include "tests/SlowBuild.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <functional>

#include <sys/resource.h>

namespace corvel::testing {

// Runs the event loop until `done` holds; false when it still does not after `msecs`
// (stretched in sanitized builds). The limit only guards against a hang.
inline bool waitUntil(const std::function<bool()>& done, int msecs = 5000)
{
    QDeadlineTimer deadline(qint64(msecs) * kSlowBuildFactor);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs `program` to its end; returns its standard output, trimmed. `exitCode` is -1 when it
// crashed or could not start.
inline QString runProgram(const QString& program, const QStringList& arguments,
                          int* exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ended = process.waitForFinished(120'000 * kSlowBuildFactor);
    if (exitCode)
        *exitCode = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Makes a movie with the ffmpeg program: `seconds` of a test pattern at `size` ("320x240"),
// 24 frames a second, with a stereo tone when `audio`, H.264 and AAC unless `codecs` names
// others ("-c:v", "mpeg4", ...). Returns whether ffmpeg succeeded.
inline bool makeMovie(const QString& path, double seconds, const QString& size = "320x240",
                      bool audio = true, const QStringList& codecs = {})
{
    QStringList args = u"-v error -y -f lavfi -i"_s.split(u' ');
    args << u"testsrc2=size=%1:rate=24:duration=%2"_s.arg(size).arg(seconds);
    if (audio)
        args << u"-f lavfi -i sine=frequency=440:sample_rate=48000:duration=%1 -ac 2"_s.arg(seconds)
                    .split(u' ');
    args << (codecs.isEmpty()
                 ? u"-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac"_s.split(u' ')
                 : codecs)
         << path;
    int exitCode = -1;
    runProgram(u"ffmpeg"_s, args, &exitCode);
    return exitCode == 0;
}

// The number of video frames that can be read back from a movie, or -1 when it does not open.
inline int readableFrames(const QString& path)
{
    int exitCode = 0;
    const QString text =
        runProgram(u"ffprobe"_s,
                   {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                    "stream=nb_read_packets", "-of", "csv=p=0", path},
                   &exitCode);
    bool ok = false;
    const int frames = text.toInt(&ok);
    return exitCode == 0 && ok ? frames : -1;
}

// The most memory this process has held so far, in KiB.
inline long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Writes `data` to `path`, making its folder; false when it could not.
inline bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry of `folder`, hidden ones too, sorted by name.
inline QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace corvel::testing
