#pragma once

#include "CorvelEncoder/engine/FrameEncoder.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace corvel {

// Runs an encoder on a thread of its own so the session decodes and converts the next frames
// while the current one is coded; the slower of the two then sets the pace instead of their
// sum. Same contract as the inner encoder for its one caller: packets come out in the order
// they would have, sendFrame blocks while `depth` frames wait, receivePacket hands over what
// is ready (EAGAIN otherwise) and, once the null frame is sent, waits for the rest. An error
// of the inner encoder comes back from the next call and from every call after it.
class AsyncFrameEncoder final : public FrameEncoder
{
public:
    AsyncFrameEncoder(std::unique_ptr<FrameEncoder> inner, std::size_t depth);
    // Drops the frames still waiting and joins once the frame being coded is done.
    ~AsyncFrameEncoder() override;

    AVCodecContext* context() const override;
    int sendFrame(const AVFrame* frame) override;
    int receivePacket(AVPacket* packet) override;
    bool takesDirectly(int format) const override { return m_inner->takesDirectly(format); }

private:
    void run();
    // Takes the next waiting frame and codes it; false once there is nothing more to code.
    bool codeNext();
    // Feeds one frame (null: the end) to the inner encoder; what came out or the error.
    int encodeOne(const AVFrame* frame, std::deque<ff::PacketPtr>& out, bool& finished);

    std::unique_ptr<FrameEncoder> m_inner;
    const std::size_t m_depth;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<ff::FramePtr> m_waiting; // a null entry is the end of the stream
    std::deque<ff::PacketPtr> m_ready;
    int m_error = 0;
    bool m_flushSent = false; // the caller sent the null frame
    bool m_finished = false;  // the inner encoder gave out its last packet
    bool m_stopping = false;
    std::thread m_thread; // none when the system refused one: sendFrame codes in turn
};

} // namespace corvel
