#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/prores/ProResDct.h"
#include "CorvelEncoder/engine/prores/ProResFrameWriter.h"
#include "CorvelEncoder/engine/prores/ProResQuantiser.h"
#include "tests/CorvelEncoder/engine/prores/ProResBitstreamChecker.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace corvel::test {
namespace {

// A 10-bit picture in the layout the profile codes, planes tightly packed.
struct Picture
{
    int width = 0, height = 0, chromaWidth = 0;
    std::vector<uint16_t> planes[4];

    ProResPlanes view() const
    {
        ProResPlanes p;
        for (int i = 0; i < 4; ++i) {
            p.data[i] =
                reinterpret_cast<const uint8_t*>(planes[i].empty() ? nullptr : planes[i].data());
            p.linesize[i] = 2 * (i == 0 || i == 3 ? width : chromaWidth);
        }
        return p;
    }
    int planeWidth(int i) const { return i == 1 || i == 2 ? chromaWidth : width; }
};

// grain: a gradient with strong film-like noise, more detail than the budget holds.
enum class Pattern
{
    flat,
    noise,
    gradient,
    extremes,
    grain
};

// `fields`: squares align with the blocks of each field rather than of the frame.
Picture makePicture(Pattern pattern, int w, int h, bool c444, bool alpha, bool fields,
                    std::mt19937& rng)
{
    Picture pic{w, h, c444 ? w : (w + 1) / 2, {}};
    std::uniform_int_distribution<int> any(0, 1023);
    const int level = any(rng);
    for (int i = 0; i < (alpha ? 4 : 3); ++i) {
        const int pw = pic.planeWidth(i);
        pic.planes[i].resize(size_t(pw) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < pw; ++x) {
                int v = level;
                if (pattern == Pattern::noise)
                    v = any(rng);
                else if (pattern == Pattern::gradient)
                    v = (x * 1023 / std::max(1, pw - 1) + y * 511 / std::max(1, h - 1)) / 2 + 256;
                else if (pattern == Pattern::extremes)
                    v = ((x / 8 + y / (fields ? 16 : 8) + i) & 1) ? 1023 : 0;
                else if (pattern == Pattern::grain)
                    v = 300 + x * 400 / pw + any(rng) / 4;
                if (i == 3 && pattern != Pattern::noise)
                    v = x < pw / 2 ? 1023 : (x * 7) & 1023; // alpha: opaque and a ramp
                pic.planes[i][size_t(y) * pw + x] = uint16_t(v);
            }
    }
    return pic;
}

// Makes `pic` (4:2:2) the 4:2:0 picture a camera records (every other chroma row; 8-bit for
// yuv420p), which `view` then shows, and `pic` what swscale makes of that in 4:2:2: the
// reference its encode is held to.
ff::FramePtr fourTwoZero(Picture& pic, ProResSource source, ProResPlanes& view)
{
    const bool eightBit = source == ProResSource::yuv420p;
    ff::FramePtr in(av_frame_alloc()), out(av_frame_alloc());
    in->format = eightBit ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV420P10LE;
    out->format = AV_PIX_FMT_YUV422P10LE;
    for (AVFrame* f : {in.get(), out.get()}) {
        f->width = pic.width;
        f->height = pic.height;
        EXPECT_GE(av_frame_get_buffer(f, 0), 0);
    }
    for (int i = 0; i < 3; ++i)
        for (int y = 0; y < (i ? (pic.height + 1) / 2 : pic.height); ++y)
            for (int x = 0; x < pic.planeWidth(i); ++x) {
                const int v = pic.planes[i][size_t(i ? 2 * y : y) * pic.planeWidth(i) + x];
                uint8_t* row = in->data[i] + y * in->linesize[i];
                if (eightBit)
                    row[x] = uint8_t(v >> 2);
                else
                    reinterpret_cast<uint16_t*>(row)[x] = uint16_t(v);
            }
    SwsContext* sws =
        sws_getContext(pic.width, pic.height, AVPixelFormat(in->format), pic.width, pic.height,
                       AV_PIX_FMT_YUV422P10LE, SWS_BICUBIC, nullptr, nullptr, nullptr);
    sws_scale(sws, in->data, in->linesize, 0, pic.height, out->data, out->linesize);
    sws_freeContext(sws);
    for (int i = 0; i < 3; ++i)
        for (int y = 0; y < pic.height; ++y)
            std::copy_n(reinterpret_cast<const uint16_t*>(out->data[i] + y * out->linesize[i]),
                        pic.planeWidth(i), pic.planes[i].data() + size_t(y) * pic.planeWidth(i));
    view = {{in->data[0], in->data[1], in->data[2]},
            {in->linesize[0], in->linesize[1], in->linesize[2]},
            source};
    return in;
}

// FFmpeg's ProRes decoder on one frame; the worst plane's PSNR against `source` (10-bit, the
// decoder's [4, 1019] range applied), or -1 when it refuses the frame or flags a slice.
double decodedPsnr(const std::vector<uint8_t>& frame, const Picture& source, ProResProfile profile)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PRORES);
    ff::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->codec_tag = proResProfileInfo(profile).fourcc;
    ctx->width = source.width;
    ctx->height = source.height;
    ff::PacketPtr packet = ff::makePacket();
    ff::FramePtr out(av_frame_alloc());
    const bool decoded = avcodec_open2(ctx.get(), codec, nullptr) >= 0 &&
                         av_new_packet(packet.get(), int(frame.size())) >= 0 &&
                         (std::copy(frame.begin(), frame.end(), packet->data), true) &&
                         avcodec_send_packet(ctx.get(), packet.get()) >= 0 &&
                         avcodec_receive_frame(ctx.get(), out.get()) >= 0;
    if (!decoded || out->decode_error_flags != 0)
        return -1;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(out->format));
    const int shift = desc->comp[0].depth - 10;
    const bool hasAlpha = !source.planes[3].empty();
    if (out->width != source.width || out->height != source.height ||
        bool(desc->flags & AV_PIX_FMT_FLAG_ALPHA) != hasAlpha)
        return -1;
    double worst = 99;
    for (int i = 0; i < (hasAlpha ? 4 : 3); ++i) {
        const int pw = source.planeWidth(i);
        double sum = 0;
        for (int y = 0; y < source.height; ++y) {
            const auto* row =
                reinterpret_cast<const uint16_t*>(out->data[i] + y * out->linesize[i]);
            for (int x = 0; x < pw; ++x) {
                const int ref = source.planes[i][size_t(y) * pw + x];
                // Alpha is exact (the decoder widens it by repeating the top bits); colour is
                // clipped to 4..1019.
                const double d =
                    i == 3 ? (row[x] >> shift) - ref
                           : (row[x] - (std::clamp(ref, 4, 1019) << shift)) / double(1 << shift);
                sum += d * d;
            }
        }
        const double mse = sum / (double(pw) * source.height);
        worst = std::min(worst, mse > 0 ? 10 * std::log10(1023.0 * 1023.0 / mse) : 99.0);
    }
    return worst;
}

// One frame to code: its shape and tags (distinct, so a swap shows), its picture, the patterns
// a writer coded before it (so its rate control carries over), a budget other than the
// profile's (0: none) and the layout it is handed over in.
struct Row
{
    ProResExpectation e;
    Pattern pattern;
    int before = 0;
    int64_t budget = 0;
    ProResSource source = ProResSource::native;
};

std::vector<Row> rows()
{
    std::vector<Row> rows;
    // Width, height and interlace mode: odd heights give fields of different heights.
    const int sizes[][3] = {{16, 16, 0}, {18, 33, 2}, {130, 66, 0}, {97, 17, 1}};
    for (int p = 0; p <= int(ProResProfile::p4444); ++p)
        for (const auto& size : sizes)
            for (int i = 0; i < 4; ++i) {
                const bool alpha = ProResProfile(p) == ProResProfile::p4444 && size[0] % 2 == 0;
                rows.push_back({{ProResProfile(p), size[0], size[1], alpha, size[2], 1, 13, 6},
                                Pattern(i),
                                i});
            }
    // Full-size grain, where the rate control has to work: one 4:2:2 frame (after a new scene
    // and a frame like it) and one 4:4:4:4 frame; frames wider and taller than 8192; noise no
    // quantiser brings down to a tiny budget.
    rows.push_back({{ProResProfile::hq, 1922, 1082, false, 0, 1, 13, 6}, Pattern::grain, 5});
    rows.push_back({{ProResProfile::p4444, 1922, 1082, true, 1, 1, 13, 6}, Pattern::grain});
    rows.push_back({{ProResProfile::hq, 8208, 64, false, 0, 9, 1, 9}, Pattern::gradient});
    rows.push_back({{ProResProfile::lt, 64, 8208, false, 0, 9, 1, 9}, Pattern::gradient});
    rows.push_back({{ProResProfile::p4444, 130, 66, true, 1, 1, 13, 6}, Pattern::noise, 0, 64});
    // 4:2:0 as cameras record it, converted as the slices are read, with partial macroblocks.
    rows.push_back({{ProResProfile::hq, 130, 66, false, 0, 1, 13, 6},
                    Pattern::gradient,
                    0,
                    0,
                    ProResSource::yuv420p});
    rows.push_back({{ProResProfile::hq, 18, 34, false, 0, 1, 13, 6},
                    Pattern::gradient,
                    0,
                    0,
                    ProResSource::yuv420p10});
    return rows;
}

using ProResFrames = testing::TestWithParam<Row>;

// Each frame must pass the checker, decode within the error the profile's rate allows for that
// kind of picture, and come out the same whatever the number of threads.
TEST_P(ProResFrames, AreWellFormedAndDecodeCloseToTheSource)
{
    const auto& [e, pattern, before, budget, source] = GetParam();
    // Least PSNR per profile and pattern (flat, noise, gradient, extremes). Flat pictures and
    // block-aligned squares come back exactly (the decoder clips to 4..1019); gradients lose
    // more the coarser the profile's matrix; random noise only has to beat no picture at all
    // (10.8 dB) on the smallest frames' budget. FFmpeg decodes 4444 at 12 bits, where
    // full-scale squares come back a few steps off.
    const double least[5][5] = {{70, 13, 50, 70, 0},
                                {70, 13, 58, 70, 0},
                                {70, 13, 62, 70, 0},
                                {70, 13, 68, 70, 25},
                                {70, 13, 68, 45, 25}};
    std::vector<uint8_t> frames[2];
    Picture pic;
    for (int threads : {3, 1}) {
        std::mt19937 rng(20261207);
        ProResFrameWriter writer({e.profile, e.width, e.height, 25, e.alpha, e.interlaceMode != 0,
                                  e.interlaceMode == 1, e.primaries, e.transfer, e.matrix, threads,
                                  budget});
        std::vector<uint8_t>& frame = frames[threads == 1];
        for (int i = 0; i <= before; ++i) {
            pic =
                makePicture(i < before ? Pattern(i) : pattern, e.width, e.height,
                            e.profile == ProResProfile::p4444, e.alpha, e.interlaceMode != 0, rng);
            ProResPlanes view = pic.view();
            const ff::FramePtr camera =
                source == ProResSource::native ? nullptr : fourTwoZero(pic, source, view);
            frame.resize(writer.maxFrameBytes());
            frame.resize(writer.encode(view, frame.data()));
        }
    }
    EXPECT_TRUE(frames[0] == frames[1]) << "the thread count changed the frame";
    const ProResCheck check = checkProResFrame(frames[0], e);
    ASSERT_EQ(check.error, "");
    const double psnr = decodedPsnr(frames[0], pic, e.profile);
    EXPECT_GE(psnr, budget ? 0 : least[int(e.profile)][int(pattern)]);
    if (pattern == Pattern::grain) {
        // Grain needs more than the budget at fine quantisers: the rate lands on it.
        const double target = double(proResFrameBudget(e.profile, e.width, e.height));
        EXPECT_NEAR(double(frames[0].size() - size_t(check.alphaBytes)) / target, 1.0, 0.03);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryProfileAndShape, ProResFrames, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<Row>& info) {
                             const ProResExpectation& e = info.param.e;
                             return "profile" + std::to_string(int(e.profile)) + "_" +
                                    std::to_string(e.width) + "x" + std::to_string(e.height) +
                                    "_pattern" + std::to_string(int(info.param.pattern)) +
                                    (info.param.budget ? "_tinyBudget" : "") +
                                    (info.param.source != ProResSource::native ? "_420" : "");
                         });

// The vector paths against the plain ones on random blocks; the reciprocals against division
// at both sides of every quotient's edge for every step and rounding (both are monotone in
// the numerator, so equal there means equal everywhere); the colour codes the format names.
TEST(ProResEncoder, FastPathsMatchTheReferenceAndColourCodesAreNamed)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> sample(0, 1023);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint16_t> block(64 * 32);
        for (uint16_t& s : block)
            s = uint16_t(round < 4 ? (round & 1) * 1023 : sample(rng));
        alignas(32) int16_t fast[64 * 32], plain[64 * 32];
        const int blocks = 1 << (round % 6);
        for (int b = 0; b < blocks; ++b) {
            const uint16_t* s = block.data() + b * 64;
            if (b % 2 == 0 && b + 1 < blocks)
                proResForwardDctPair(s, s + 64, 8, proResInterlacedScan, fast + b, blocks);
            else if (b % 2 == 0)
                proResForwardDct(s, 8, proResInterlacedScan, fast + b, blocks);
            proResForwardDctPlain(s, 8, proResInterlacedScan, plain + b, blocks);
        }
        ASSERT_TRUE(std::equal(fast, fast + 64 * blocks, plain)) << "transform, round " << round;
        const ProResQuantiser q =
            makeProResQuantiser(proResProfileInfo(ProResProfile(round % 5)).lumaMatrix.data(),
                                proResQuantiserValue(1 + round % 224), round % 2 == 0);
        alignas(32) int16_t levels[2][64 * 32];
        proResQuantise(plain, blocks, q, levels[0]);
        proResQuantisePlain(plain, blocks, q, levels[1]);
        ASSERT_TRUE(std::equal(levels[0], levels[0] + 64 * blocks, levels[1])) << round;
    }
    const std::vector<uint8_t> ones(64, 1);
    for (int step = 4; step <= 63 * 512; ++step) {
        const ProResQuantiser q = makeProResQuantiser(ones.data(), step, step % 2 == 0);
        std::vector<int16_t> c, expected;
        for (int n = step - 1; n < 32768; n += n % step == 0 ? step - 1 : 1) {
            for (const int sign : {1, -1}) {
                const int rounding = q.rounding[c.size() % 64];
                const int magnitude = std::max(0, n - rounding);
                c.push_back(int16_t(sign * magnitude));
                expected.push_back(int16_t(sign * ((magnitude + rounding) / step)));
            }
        }
        c.resize((c.size() + 63) / 64 * 64);
        expected.resize(c.size());
        std::vector<int16_t> levels(c.size());
        for (size_t i = 0; i < c.size(); i += 64)
            proResQuantisePlain(c.data() + i, 1, q, levels.data() + i);
        ASSERT_TRUE(levels == expected) << "step " << step;
    }
    // Value, then the primaries, transfer and matrix codes it becomes.
    const int colours[][4] = {{0, 2, 2, 2},  {1, 1, 1, 1},   {2, 2, 2, 2},   {5, 5, 2, 6},
                              {6, 6, 6, 6},  {9, 9, 2, 9},   {10, 2, 2, 2},  {12, 12, 2, 2},
                              {14, 2, 1, 2}, {16, 2, 16, 2}, {18, 2, 18, 2}, {22, 2, 2, 2}};
    for (const auto& [value, primaries, transfer, matrix] : colours) {
        EXPECT_EQ(proResPrimaries(value), primaries) << value;
        EXPECT_EQ(proResTransfer(value), transfer) << value;
        EXPECT_EQ(proResMatrix(value), matrix) << value;
    }
}

} // namespace
} // namespace corvel::test
