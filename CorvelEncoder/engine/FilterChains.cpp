#include "CorvelEncoder/engine/FilterChains.h"

#include "CorvelEncoder/engine/CpuBudget.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace corvel {

namespace {

const char* scaleMatrixName(const QString& matrix)
{
    if (matrix == u"bt709")
        return "bt709";
    if (matrix == u"smpte170m")
        return "smpte170m";
    if (matrix == u"bt470bg")
        return "bt470";
    if (matrix == u"fcc")
        return "fcc";
    if (matrix == u"smpte240m")
        return "smpte240m";
    if (matrix == u"bt2020nc" || matrix == u"bt2020c")
        return "bt2020";
    return nullptr;
}

QString defaultLayoutText(int channels)
{
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    const QString text = channelLayoutText(layout);
    av_channel_layout_uninit(&layout);
    return text;
}

// Puts the filters of `chain` between `source` and `sink` and configures the graph.
bool linkFilterChain(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
                     const QString& chain)
{
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    bool ok = outputs && inputs;
    if (ok) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        ok = avfilter_graph_parse_ptr(graph, chain.toLatin1().constData(), &inputs, &outputs,
                                      nullptr) >= 0 &&
             avfilter_graph_config(graph, nullptr) >= 0;
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return ok;
}

} // namespace

QString channelLayoutText(const AVChannelLayout& layout)
{
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
        return defaultLayoutText(layout.nb_channels);
    char text[128] = {};
    av_channel_layout_describe(&layout, text, sizeof text);
    return QString::fromLatin1(text);
}

FilterChain videoChain(const VideoSource& source, const EncodePlan& plan, AVPixelFormat target)
{
    const AVRational sar = source.sampleAspect.num > 0 ? source.sampleAspect : AVRational{1, 1};
    const QString args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:"
                                        "pixel_aspect=%6/%7")
                             .arg(source.width)
                             .arg(source.height)
                             .arg(int(source.format))
                             .arg(source.timeBase.num)
                             .arg(source.timeBase.den)
                             .arg(sar.num)
                             .arg(sar.den);

    // Merge fields first, so nothing after mixes the two. Retime before scaling so dropped
    // frames are never scaled; mirror and turn upright, then fill the render size.
    QString chain = QString::fromLatin1(plan.deinterlace ? "bwdif=mode=send_frame," : "") +
                    QStringLiteral("fps=fps=%1/%2")
                        .arg(plan.frameDuration.timescale)
                        .arg(plan.frameDuration.value);
    static const char* const turns[] = {"", ",transpose=clock", ",hflip,vflip",
                                        ",transpose=cclock"};
    if (plan.mirrored)
        chain += QStringLiteral(",hflip");
    chain += QLatin1StringView(turns[plan.quarterTurns & 3]);
    // A size only rounded down loses its last column or row; every other pixel stays exact.
    if (plan.cropTo)
        chain += QStringLiteral(",crop=w=%1:h=%2:x=0:y=0:exact=1")
                     .arg(plan.cropTo->width)
                     .arg(plan.cropTo->height);
    if (target != source.format || !keepsSamples(source, plan)) {
        // Kept fields have their chroma converted field by field.
        chain += QStringLiteral(",scale=w=%1:h=%2:flags=bicubic:interl=%3")
                     .arg(plan.renderSize.width)
                     .arg(plan.renderSize.height)
                     .arg(plan.interlaced ? 1 : 0);
        // The plan's matrix is the source's own, or BT.709 for an untagged source: Y'CbCr
        // passes through unchanged (swscale would otherwise assume BT.601 and shift an HD
        // picture's colours), and RGB sources are converted with the matrix the file is
        // tagged with. A picture made SDR is read with the source's matrix; the tone mapping
        // converts it.
        const ColorTags& read = plan.rendering.toneMap ? plan.rendering.source : plan.color;
        if (const char* matrix = scaleMatrixName(read.matrix.value_or(QString())))
            chain += QStringLiteral(":in_color_matrix=%1:out_color_matrix=%1")
                         .arg(QLatin1StringView(matrix));
    }
    if (plan.rendering.toneMap)
        chain += u',' + toneMapChain(plan.rendering.from, plan.rendering.source,
                                     av_get_pix_fmt_name(target));
    chain += QStringLiteral(",setsar=1,format=pix_fmts=") +
             QLatin1StringView(av_get_pix_fmt_name(target));
    return {true, args, chain};
}

bool keepsSamples(const VideoSource& source, const EncodePlan& plan)
{
    const bool turned = plan.quarterTurns % 2 != 0;
    const int64_t width = plan.cropTo ? plan.cropTo->width : turned ? source.height : source.width;
    const int64_t height = plan.cropTo ? plan.cropTo->height
                           : turned    ? source.width
                                       : source.height;
    // Full-range pictures are brought to studio range by the scaler.
    return width == plan.renderSize.width && height == plan.renderSize.height && !plan.interlaced &&
           !plan.rendering.toneMap && source.range != AVCOL_RANGE_JPEG;
}

FilterChain audioChain(const AudioSource& source, const AudioTarget& target, int64_t firstPts)
{
    const QString args =
        QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
            .arg(source.timeBase.num)
            .arg(source.timeBase.den)
            .arg(source.sampleRate)
            .arg(QLatin1StringView(av_get_sample_fmt_name(source.format)))
            .arg(channelLayoutText(source.layout));
    // Audio stays locked to the source's timeline: where packets are missing or were too
    // damaged to decode, silence fills the gap, and overlaps are trimmed. PCM in QuickTime is
    // stored back to back, so without this every hole would pull the rest of the sound early.
    // It starts at the movie's start (or where a replaced graph stopped), so late audio is
    // preceded by silence.
    const QString chain =
        QStringLiteral("aresample=%1:async=1:min_hard_comp=0.01:first_pts=%2,"
                       "aformat=sample_fmts=%3:sample_rates=%1:channel_layouts=%4")
            .arg(target.sampleRate)
            .arg(firstPts)
            .arg(QLatin1StringView(av_get_sample_fmt_name(target.format)))
            .arg(target.layout.isEmpty() ? defaultLayoutText(target.channels) : target.layout);
    return {false, args, chain};
}

bool FilterGraph::build(const FilterChain& chain, AVPixelFormat sinkFormat)
{
    graph.reset(avfilter_graph_alloc());
    source = sink = nullptr;
    if (!graph)
        return false;
    // Else a graph starts a thread per core, whatever this encode's share; audio filters take
    // no slice threads.
    graph->nb_threads = chain.video ? threadsPerEncode() : 1;
    const QByteArray args = chain.sourceArgs.toLatin1();
    if (avfilter_graph_create_filter(&source,
                                     avfilter_get_by_name(chain.video ? "buffer" : "abuffer"), "in",
                                     args.constData(), nullptr, graph.get()) < 0 ||
        avfilter_graph_create_filter(
            &sink, avfilter_get_by_name(chain.video ? "buffersink" : "abuffersink"), "out", nullptr,
            nullptr, graph.get()) < 0)
        return false;
    if (sinkFormat != AV_PIX_FMT_NONE) {
        const AVPixelFormat formats[] = {sinkFormat, AV_PIX_FMT_NONE};
        if (av_opt_set_int_list(sink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                                AV_OPT_SEARCH_CHILDREN) < 0)
            return false;
    }
    return linkFilterChain(graph.get(), source, sink, chain.filters);
}

} // namespace corvel
