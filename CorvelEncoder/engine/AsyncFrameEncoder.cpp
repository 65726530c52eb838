#include "CorvelEncoder/engine/AsyncFrameEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <new>
#include <system_error>

namespace corvel {

AsyncFrameEncoder::AsyncFrameEncoder(std::unique_ptr<FrameEncoder> inner, std::size_t depth)
    : m_inner(std::move(inner)), m_depth(std::max<std::size_t>(1, depth))
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: sendFrame codes each frame itself, in turn as before.
    }
}

AsyncFrameEncoder::~AsyncFrameEncoder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_waiting.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

AVCodecContext* AsyncFrameEncoder::context() const
{
    // Settled when the encoder opened; neither thread writes it afterwards.
    return m_inner->context();
}

int AsyncFrameEncoder::sendFrame(const AVFrame* frame)
{
    ff::FramePtr owned;
    if (frame) {
        // A new reference, not a move: the caller still reads the frame after sending it.
        owned = ff::makeFrame();
        if (!owned)
            return AVERROR(ENOMEM);
        if (const int ret = av_frame_ref(owned.get(), frame); ret < 0)
            return ret;
    }
    std::unique_lock lock(m_mutex);
    if (m_error < 0)
        return m_error;
    if (m_flushSent)
        return AVERROR_EOF;
    m_changed.wait(lock, [&] { return m_waiting.size() < m_depth || m_error < 0; });
    if (m_error < 0)
        return m_error;
    m_flushSent = !frame;
    m_waiting.push_back(std::move(owned));
    lock.unlock();
    m_changed.notify_all();
    if (!m_thread.joinable())
        codeNext();
    return 0;
}

int AsyncFrameEncoder::receivePacket(AVPacket* packet)
{
    std::unique_lock lock(m_mutex);
    // Before the end only what is ready; after it, everything the encoder still holds.
    if (m_flushSent)
        m_changed.wait(lock, [&] { return !m_ready.empty() || m_finished || m_error < 0; });
    if (!m_ready.empty()) {
        av_packet_move_ref(packet, m_ready.front().get());
        m_ready.pop_front();
        return 0;
    }
    if (m_error < 0)
        return m_error;
    return m_finished ? AVERROR_EOF : AVERROR(EAGAIN);
}

int AsyncFrameEncoder::encodeOne(const AVFrame* frame, std::deque<ff::PacketPtr>& out,
                                 bool& finished)
{
    const auto collect = [&]() -> int {
        for (;;) {
            ff::PacketPtr packet = ff::makePacket();
            if (!packet)
                return AVERROR(ENOMEM);
            const int ret = m_inner->receivePacket(packet.get());
            // Once flushing, an encoder with nothing more is done, whichever way it says so.
            if (ret == AVERROR_EOF || (ret == AVERROR(EAGAIN) && !frame)) {
                finished = !frame;
                return 0;
            }
            if (ret == AVERROR(EAGAIN))
                return 0;
            if (ret < 0)
                return ret;
            out.push_back(std::move(packet));
        }
    };
    int ret = m_inner->sendFrame(frame);
    // A full encoder takes the frame once its packets are out.
    if (ret == AVERROR(EAGAIN)) {
        if (const int got = collect(); got < 0)
            return got;
        ret = m_inner->sendFrame(frame);
    }
    if (ret == AVERROR_EOF && !frame)
        ret = 0;
    if (ret < 0)
        return ret;
    return collect();
}

void AsyncFrameEncoder::run()
{
    while (codeNext()) {
    }
}

bool AsyncFrameEncoder::codeNext()
{
    ff::FramePtr frame;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_waiting.empty() || m_stopping; });
        if (m_stopping)
            return false;
        frame = std::move(m_waiting.front());
        m_waiting.pop_front();
    }
    // Room in the queue: the caller may go on decoding while this frame is coded.
    m_changed.notify_all();
    const bool last = !frame;
    std::deque<ff::PacketPtr> out;
    bool finished = false;
    int ret = 0;
    try {
        ret = encodeOne(frame.get(), out, finished);
    } catch (const std::bad_alloc&) {
        ret = AVERROR(ENOMEM);
    } catch (...) {
        ret = AVERROR_BUG;
    }
    frame.reset();
    {
        std::lock_guard lock(m_mutex);
        for (ff::PacketPtr& packet : out)
            m_ready.push_back(std::move(packet));
        if (ret < 0) {
            m_error = ret;
            m_waiting.clear();
        }
        m_finished = finished || (last && ret >= 0);
    }
    m_changed.notify_all();
    return ret >= 0 && !last;
}

} // namespace corvel
