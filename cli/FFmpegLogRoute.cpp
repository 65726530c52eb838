#include "cli/FFmpegLogRoute.h"

#include <QHash>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace corvel {

namespace {

struct LogJob
{
    QString outputPath;
    QByteArray name;
};

std::mutex g_mutex;
QHash<QString, LogJob> g_jobs; // by source path

// The last job this thread logged for: a codec's messages come from the thread that opened
// the job's files, but only the files' contexts carry a path.
thread_local QByteArray t_lastName;

QByteArray nameFor(void* context)
{
    const AVClass* avClass = context ? *static_cast<const AVClass**>(context) : nullptr;
    std::lock_guard lock(g_mutex);
    if (avClass && std::strcmp(avClass->class_name, "AVFormatContext") == 0) {
        const char* url = static_cast<const AVFormatContext*>(context)->url;
        const QString path = url ? QString::fromUtf8(url) : QString();
        for (auto it = g_jobs.cbegin(); it != g_jobs.cend(); ++it) {
            if (it.key() == path || it->outputPath == path) {
                t_lastName = it->name;
                return t_lastName;
            }
        }
    }
    if (!t_lastName.isEmpty())
        return t_lastName;
    // x264's and the decoders' own threads: unambiguous while one job runs.
    if (g_jobs.size() == 1)
        return g_jobs.cbegin()->name;
    return QByteArrayLiteral("ffmpeg");
}

extern "C" void onFFmpegLog(void* context, int level, const char* format, va_list arguments)
{
    if (level > av_log_get_level())
        return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
    const size_t length = std::strlen(line);
    if (length == 0)
        return;
    const QByteArray name = nameFor(context);
    std::fprintf(stderr, "[%s] %s%s", name.constData(), line, line[length - 1] == '\n' ? "" : "\n");
}

} // namespace

void routeFFmpegLog(int level)
{
    av_log_set_level(level);
    av_log_set_callback(onFFmpegLog);
}

void addFFmpegLogJob(const QString& sourcePath, const QString& outputPath, const QString& name)
{
    std::lock_guard lock(g_mutex);
    g_jobs.insert(sourcePath, {outputPath, name.toUtf8()});
}

void removeFFmpegLogJob(const QString& sourcePath)
{
    std::lock_guard lock(g_mutex);
    g_jobs.remove(sourcePath);
}

} // namespace corvel
