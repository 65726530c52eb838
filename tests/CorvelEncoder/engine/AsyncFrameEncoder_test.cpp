#include "CorvelEncoder/engine/AsyncFrameEncoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>
#include <vector>

namespace corvel::test {
namespace {

// Holds `delay` frames like an encoder with reordering, refuses more, fails on frame `failAt`,
// waits for `flushOpen` before taking the end.
struct FakeEncoder final : FrameEncoder
{
    int delay = 0;
    int64_t failAt = -1;
    std::atomic<bool>* flushOpen = nullptr;
    std::deque<int64_t> held;
    bool flushing = false;

    AVCodecContext* context() const override { return nullptr; }
    int sendFrame(const AVFrame* frame) override
    {
        while (!frame && flushOpen && !*flushOpen)
            std::this_thread::yield();
        if (!frame)
            return flushing = true, 0;
        if (int(held.size()) > delay)
            return AVERROR(EAGAIN);
        if (frame->pts == failAt)
            return AVERROR(EIO);
        return held.push_back(frame->pts), 0;
    }
    int receivePacket(AVPacket* packet) override
    {
        if (held.empty() || (!flushing && int(held.size()) <= delay))
            return flushing ? AVERROR_EOF : AVERROR(EAGAIN);
        packet->pts = held.front();
        return held.pop_front(), 0;
    }
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

// Frames 0..5 and the end, draining after each call as the session does. The end is held
// back a moment: the drain after it must wait for the last packets.
TEST(AsyncFrameEncoder, PacketsKeepOrderEndDrainsAndErrorsSurface)
{
    for (const auto& [delay, failAt] : {std::pair{0, -1}, {3, -1}, {0, 2}, {3, 0}, {1, 5}}) {
        SCOPED_TRACE(testing::Message() << "delay " << delay << " failAt " << failAt);
        auto fake = std::make_unique<FakeEncoder>();
        fake->delay = delay;
        fake->failAt = failAt;
        std::atomic<bool> flushOpen = false;
        fake->flushOpen = &flushOpen;
        std::jthread opener;
        AsyncFrameEncoder encoder(std::move(fake), 2);
        std::vector<int64_t> out, expected;
        int error = 0;
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
                error = encoder.drain([&](AVPacket* p) { return out.push_back(p->pts), true; });
        }
        for (int64_t pts = 0; pts < (failAt < 0 ? 6 : failAt); ++pts)
            expected.push_back(pts);
        AVPacket packet{};
        if (failAt < 0) {
            EXPECT_EQ(error, 0);
            EXPECT_EQ(encoder.receivePacket(&packet), AVERROR_EOF);
        } else {
            EXPECT_EQ(error, AVERROR(EIO));
            EXPECT_EQ(encoder.sendFrame(nullptr), AVERROR(EIO)); // stays failed
            ASSERT_LE(out.size(), expected.size());
            expected.resize(out.size());
        }
        EXPECT_EQ(out, expected);
    }
}

} // namespace
} // namespace corvel::test
