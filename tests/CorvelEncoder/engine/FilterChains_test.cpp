#include "CorvelEncoder/engine/FilterChains.h"

extern "C" {
#include <libavfilter/buffersink.h>
}

#include <gtest/gtest.h>

namespace corvel::test {
namespace {

// Each chain is configured by FFmpeg as an encode configures it, and ends in what the encoder
// takes at the plan's render size; a picture already in that size, format and range is not
// converted at all.
TEST(FilterChains, VideoChainsConfigure)
{
    struct Row
    {
        const char* name;
        int width, height;
        AVPixelFormat source;
        bool mirrored;
        int quarterTurns;
        bool deinterlace, interlaced;
        std::optional<QString> matrix;
        int64_t outWidth, outHeight;
        AVPixelFormat target;
        const char* holds; // the step that row depends on
        AVColorRange range;
    };
    const Row rows[] = {
        {"phone clip turned", 1920, 1080, AV_PIX_FMT_YUV420P, false, 1, false, false, std::nullopt,
         1080, 1920, AV_PIX_FMT_YUV420P, ",transpose=clock,setsar", AVCOL_RANGE_MPEG},
        {"full range brought to studio range", 1920, 1080, AV_PIX_FMT_YUV420P, false, 0, false,
         false, std::nullopt, 1920, 1080, AV_PIX_FMT_YUV420P, ",scale", AVCOL_RANGE_JPEG},
        {"mirrored and upside down", 640, 480, AV_PIX_FMT_RGB24, true, 2, false, false,
         QStringLiteral("bt470bg"), 640, 480, AV_PIX_FMT_YUV444P10LE, "hflip,hflip,vflip",
         AVCOL_RANGE_MPEG},
        {"fields merged first", 720, 576, AV_PIX_FMT_YUV420P, false, 0, true, false, std::nullopt,
         1024, 576, AV_PIX_FMT_YUV420P, "bwdif=mode=send_frame,fps", AVCOL_RANGE_MPEG},
        {"fields kept", 1920, 1080, AV_PIX_FMT_YUV422P10LE, false, 0, false, true,
         QStringLiteral("bt709"), 1920, 1080, AV_PIX_FMT_YUV422P10LE,
         "interl=1:in_color_matrix=bt709:out_color_matrix=bt709", AVCOL_RANGE_MPEG}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EncodePlan plan;
        plan.renderSize = {row.outWidth, row.outHeight};
        plan.frameDuration = {1001, 30000};
        plan.mirrored = row.mirrored;
        plan.quarterTurns = row.quarterTurns;
        plan.deinterlace = row.deinterlace;
        plan.interlaced = row.interlaced;
        plan.color.matrix = row.matrix;
        const FilterChain chain = videoChain(
            {row.width, row.height, row.source, {1, 90000}, {0, 1}, row.range}, plan, row.target);
        EXPECT_TRUE(chain.filters.contains(QLatin1StringView(row.holds)))
            << chain.filters.toStdString();
        FilterGraph graph;
        ASSERT_TRUE(graph.build(chain, row.target));
        EXPECT_EQ(av_buffersink_get_w(graph.sink), row.outWidth);
        EXPECT_EQ(av_buffersink_get_h(graph.sink), row.outHeight);
        EXPECT_EQ(av_buffersink_get_format(graph.sink), row.target);
    }
}

// A decoder that leaves its layout unordered still gets the usual layout for its channel
// count, and the encoder's side is always named in full.
TEST(FilterChains, AudioLayoutsAndChains)
{
    // channels, ordered layout, its text, channels encoded
    const std::tuple<int, bool, const char*, int> rows[] = {
        {1, false, "mono", 2}, {6, false, "5.1", 2}, {2, true, "stereo", 6}};
    for (const auto& [channels, ordered, text, targetChannels] : rows) {
        SCOPED_TRACE(text);
        AVChannelLayout layout{};
        layout.nb_channels = channels;
        if (ordered)
            av_channel_layout_default(&layout, channels);
        EXPECT_EQ(channelLayoutText(layout), QLatin1StringView(text));
        const FilterChain chain = audioChain({44100, AV_SAMPLE_FMT_S16, layout, {1, 44100}},
                                             {48000, AV_SAMPLE_FMT_FLTP, targetChannels}, 0);
        FilterGraph graph;
        ASSERT_TRUE(graph.build(chain));
        EXPECT_EQ(av_buffersink_get_sample_rate(graph.sink), 48000);
        EXPECT_EQ(av_buffersink_get_channels(graph.sink), targetChannels);
        EXPECT_EQ(av_buffersink_get_format(graph.sink), AV_SAMPLE_FMT_FLTP);
    }
}

} // namespace
} // namespace corvel::test
