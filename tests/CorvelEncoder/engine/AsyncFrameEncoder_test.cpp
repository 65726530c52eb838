#include "CorvelEncoder/engine/AsyncFrameEncoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>
#include <vector>

namespace corvel::test {
namespace {

// Stands in for an encoder: holds `delay` frames like one with reordering, refuses more than
// it holds, fails on frame `failAt`, waits at `open` before coding each frame and at
// `flushOpen` before taking the end.
class FakeEncoder final : public FrameEncoder
{
public:
    int delay = 0;
    int64_t failAt = -1;
    std::atomic<bool>* open = nullptr;
    std::atomic<bool>* flushOpen = nullptr;

    AVCodecContext* context() const override { return nullptr; }
    int sendFrame(const AVFrame* frame) override
    {
        while (open && !*open)
            std::this_thread::yield();
        while (!frame && flushOpen && !*flushOpen)
            std::this_thread::yield();
        if (!frame)
            return m_flushing = true, 0;
        if (int(m_held.size()) > delay)
            return AVERROR(EAGAIN);
        if (frame->pts == failAt)
            return AVERROR(EIO);
        m_held.push_back(frame->pts);
        return 0;
    }
    int receivePacket(AVPacket* packet) override
    {
        if (m_held.empty() || (!m_flushing && int(m_held.size()) <= delay))
            return m_flushing ? AVERROR_EOF : AVERROR(EAGAIN);
        packet->pts = m_held.front();
        m_held.pop_front();
        return 0;
    }

private:
    std::deque<int64_t> m_held;
    bool m_flushing = false;
};

ff::FramePtr grayFrame(int64_t pts)
{
    ff::FramePtr frame = ff::makeFrame();
    frame->format = AV_PIX_FMT_GRAY8;
    frame->width = frame->height = 16;
    frame->pts = pts;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    return frame;
}

// Sends frames 0..5 and the end, draining after each call the way the session does; what
// came out and the first error.
TEST(AsyncFrameEncoder, PacketsKeepOrderEndDrainsAndErrorsSurface)
{
    struct Row
    {
        int delay;
        int64_t failAt;
    };
    for (const Row row : {Row{0, -1}, Row{3, -1}, Row{0, 2}, Row{3, 0}, Row{1, 5}}) {
        SCOPED_TRACE(testing::Message() << "delay " << row.delay << " failAt " << row.failAt);
        auto fake = std::make_unique<FakeEncoder>();
        fake->delay = row.delay;
        fake->failAt = row.failAt;
        // The end is held back a moment: the drain after it must wait for the last packets.
        std::atomic<bool> flushOpen = false;
        fake->flushOpen = &flushOpen;
        std::jthread opener;
        AsyncFrameEncoder encoder(std::move(fake), 2);
        std::vector<int64_t> out;
        int error = 0;
        const auto sink = [&](AVPacket* packet) {
            return out.push_back(packet->pts), true;
        };
        for (int64_t pts = 0; pts <= 6 && error == 0; ++pts) {
            ff::FramePtr frame = pts < 6 ? grayFrame(pts) : nullptr;
            error = encoder.sendFrame(frame.get());
            if (!frame)
                opener = std::jthread([&] {
                    for (int i = 0; i < 10000; ++i)
                        std::this_thread::yield();
                    flushOpen = true;
                });
            if (error == 0)
                error = encoder.drain(sink);
        }
        std::vector<int64_t> expected;
        for (int64_t pts = 0; pts < (row.failAt < 0 ? 6 : row.failAt); ++pts)
            expected.push_back(pts);
        if (row.failAt < 0) {
            EXPECT_EQ(error, 0);
            EXPECT_EQ(out, expected);
            AVPacket packet{};
            EXPECT_EQ(encoder.receivePacket(&packet), AVERROR_EOF);
        } else {
            EXPECT_EQ(error, AVERROR(EIO));
            EXPECT_EQ(encoder.sendFrame(nullptr), AVERROR(EIO)); // stays failed
            EXPECT_LE(out.size(), expected.size());
            expected.resize(out.size());
            EXPECT_EQ(out, expected);
        }
    }
}

// The session stops early (cancelled, or the muxer failed) with the queue full and a frame
// in the encoder: destruction lets that frame finish and drops the rest.
TEST(AsyncFrameEncoder, StoppingWithFramesQueuedDoesNotHang)
{
    std::atomic<bool> open = false;
    auto fake = std::make_unique<FakeEncoder>();
    fake->open = &open;
    {
        AsyncFrameEncoder encoder(std::move(fake), 2);
        for (int64_t pts = 0; pts < 3; ++pts)
            ASSERT_EQ(encoder.sendFrame(grayFrame(pts).get()), 0);
        open = true;
    }
}

} // namespace
} // namespace corvel::test
