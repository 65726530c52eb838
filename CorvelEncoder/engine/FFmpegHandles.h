#pragma once

// Owning handles for FFmpeg objects. Each alias frees with the library's own release call, so
// every early return in the engine cleans up without bookkeeping.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <QString>

#include <memory>

namespace corvel::ff {

struct FrameDeleter
{
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecContextDeleter
{
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FilterGraphDeleter
{
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct SwrContextDeleter
{
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct DictionaryDeleter
{
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

// Options for one of FFmpeg's open calls, owned from the first key on. The call takes the
// dictionary and may hand back another with the keys it did not use; that one is owned too.
class Options
{
public:
    void set(const char* key, const char* value)
    {
        AVDictionary* raw = m_dict.release();
        av_dict_set(&raw, key, value, 0);
        m_dict.reset(raw);
    }
    // Calls `open` with the dictionary's address: open(AVDictionary**) -> int.
    template <class Open>
    int pass(Open&& open)
    {
        AVDictionary* raw = m_dict.release();
        const int ret = open(&raw);
        m_dict.reset(raw);
        return ret;
    }

private:
    std::unique_ptr<AVDictionary, DictionaryDeleter> m_dict;
};

inline FramePtr makeFrame()
{
    return FramePtr(av_frame_alloc());
}
inline PacketPtr makePacket()
{
    return PacketPtr(av_packet_alloc());
}

// An AVERROR code as a sentence for the user: "Permission denied."
QString errorText(int averror);

// A demuxer context. avformat_open_input frees the context itself when it fails, so the
// class only closes what opened.
class InputFile final
{
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens and reads stream info. `interrupt` may be null. Returns 0 or an AVERROR code.
    int open(const QString& path, const AVIOInterruptCB* interrupt);
    AVFormatContext* get() const { return m_ctx; }
    AVFormatContext* operator->() const { return m_ctx; }

private:
    AVFormatContext* m_ctx = nullptr;
};

// A muxer context and its file. Freed without a trailer when writing never finished; the
// owner deletes the partial file.
class OutputFile final
{
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Allocates the muxer for `formatName` ("mov" or "mp4") writing to `path`.
    int create(const char* formatName, const QString& path, const AVIOInterruptCB* interrupt);
    // Opens the file for writing.
    int openFile();
    // Closes the file handle (after the trailer, or to give up). Returns the last write's
    // error: a full disk may only show when the final buffer is flushed.
    int close();
    AVFormatContext* get() const { return m_ctx; }
    AVFormatContext* operator->() const { return m_ctx; }

private:
    AVFormatContext* m_ctx = nullptr;
    QString m_path;
};

} // namespace corvel::ff
