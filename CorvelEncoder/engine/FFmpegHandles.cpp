#include "CorvelEncoder/engine/FFmpegHandles.h"

#include <QFile>

#include <sys/stat.h>

namespace corvel::ff {

QString errorText(int averror)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, buffer, sizeof buffer);
    QString text = QString::fromUtf8(buffer).trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unknown error");
    text[0] = text[0].toUpper();
    if (!text.endsWith(u'.'))
        text += u'.';
    return text;
}

InputFile::~InputFile()
{
    if (m_ctx)
        avformat_close_input(&m_ctx);
}

int InputFile::open(const QString& path, const AVIOInterruptCB* interrupt)
{
    // Only a regular file can be a movie: opening a named pipe waits for a writer, and a
    // device never ends.
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return AVERROR(errno);
    if (!S_ISREG(st.st_mode))
        return AVERROR(EINVAL);
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx)
        return AVERROR(ENOMEM);
    if (interrupt)
        ctx->interrupt_callback = *interrupt;
    // Movie containers only, read from this one local file. Playlists, concat lists and
    // image-sequence patterns would pull in other files, and other protocols would reach
    // beyond the file; the whitelist also binds anything a demuxer opens itself.
    Options options;
    options.set("format_whitelist", "mov,matroska,mpegts,mpeg,mpegvideo,avi,asf,flv,mxf,dv,ogg,"
                                    "nut,ivf,yuv4mpegpipe,h264,hevc,m4v,wtv,gxf,rm");
    options.set("protocol_whitelist", "file");
    // "file:" keeps a name with a colon from being read as another protocol.
    const QByteArray url = "file:" + QFile::encodeName(path);
    // On failure avformat_open_input frees ctx itself.
    int ret = options.pass([&](AVDictionary** dict) {
        return avformat_open_input(&ctx, url.constData(), nullptr, dict);
    });
    // A format outside the list is refused as an invalid argument; for the user it is simply
    // not a movie.
    if (ret == AVERROR(EINVAL))
        return AVERROR_INVALIDDATA;
    if (ret < 0)
        return ret;
    m_ctx = ctx;
    ret = avformat_find_stream_info(m_ctx, nullptr);
    return ret < 0 ? ret : 0;
}

OutputFile::~OutputFile()
{
    close();
    avformat_free_context(m_ctx);
}

int OutputFile::create(const char* formatName, const QString& path,
                       const AVIOInterruptCB* interrupt)
{
    m_path = path;
    const int ret =
        avformat_alloc_output_context2(&m_ctx, nullptr, formatName, path.toUtf8().constData());
    if (ret < 0)
        return ret;
    if (interrupt)
        m_ctx->interrupt_callback = *interrupt;
    return 0;
}

int OutputFile::openFile()
{
    return avio_open2(&m_ctx->pb, m_path.toUtf8().constData(), AVIO_FLAG_WRITE,
                      &m_ctx->interrupt_callback, nullptr);
}

int OutputFile::close()
{
    if (!m_ctx || !m_ctx->pb)
        return 0;
    const int pending = m_ctx->pb->error;
    const int ret = avio_closep(&m_ctx->pb);
    return pending < 0 ? pending : ret;
}

} // namespace corvel::ff
