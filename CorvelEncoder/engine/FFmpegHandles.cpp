#include "CorvelEncoder/engine/FFmpegHandles.h"

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
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx)
        return AVERROR(ENOMEM);
    if (interrupt)
        ctx->interrupt_callback = *interrupt;
    // On failure avformat_open_input frees ctx itself.
    int ret = avformat_open_input(&ctx, path.toUtf8().constData(), nullptr, nullptr);
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
