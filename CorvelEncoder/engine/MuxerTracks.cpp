#include "CorvelEncoder/engine/MuxerTracks.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>

namespace corvel {

QString quickTimeLanguage(const QString& language)
{
    // The languages with two ISO 639-2 codes, the form Apple's list holds first.
    static const QList<std::pair<QString, QString>> pairs = {
        {"alb", "sqi"}, {"arm", "hye"}, {"baq", "eus"}, {"bur", "mya"}, {"chi", "zho"},
        {"dut", "nld"}, {"geo", "kat"}, {"ger", "deu"}, {"gre", "ell"}, {"ice", "isl"},
        {"mac", "mkd"}, {"may", "msa"}, {"per", "fas"}, {"tib", "bod"}, {"wel", "cym"},
        {"fra", "fre"}, {"ces", "cze"}, {"ron", "rum"}, {"slk", "slo"}};
    for (const auto& [kept, other] : pairs) {
        if (language == other)
            return kept;
    }
    return language;
}

void copyTrackTags(const AVStream* in, AVStream* out, const QString& language, const QString& title,
                   bool isDefault, bool quickTime)
{
    if (!in || !out)
        return;
    if (!language.isEmpty())
        av_dict_set(&out->metadata, "language",
                    (quickTime ? quickTimeLanguage(language) : language).toUtf8().constData(), 0);
    if (!title.isEmpty())
        av_dict_set(&out->metadata, "title", title.toUtf8().constData(), 0);
    out->disposition =
        (out->disposition & ~AV_DISPOSITION_DEFAULT) | (isDefault ? AV_DISPOSITION_DEFAULT : 0);
}

int copyChapters(const AVFormatContext* in, AVFormatContext* out, int64_t startOffset)
{
    if (in->nb_chapters == 0)
        return 0;
    auto** grown = static_cast<AVChapter**>(
        av_realloc_array(out->chapters, out->nb_chapters + in->nb_chapters, sizeof(AVChapter*)));
    if (!grown)
        return AVERROR(ENOMEM);
    out->chapters = grown;
    int copied = 0;
    for (unsigned i = 0; i < in->nb_chapters; ++i) {
        const AVChapter* from = in->chapters[i];
        const int64_t offset = av_rescale_q(startOffset, AV_TIME_BASE_Q, from->time_base);
        const int64_t end = from->end - offset;
        if (end <= 0)
            continue;
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!chapter)
            return AVERROR(ENOMEM);
        chapter->id = from->id;
        chapter->time_base = from->time_base;
        chapter->start = std::max<int64_t>(from->start - offset, 0);
        chapter->end = end;
        // The context owns the chapter from here, so a failed copy of its tags leaks nothing.
        out->chapters[out->nb_chapters++] = chapter;
        if (const int ret = av_dict_copy(&chapter->metadata, from->metadata, 0); ret < 0)
            return ret;
        ++copied;
    }
    return copied;
}

QStringList trackLines(const AVFormatContext* out)
{
    QStringList lines;
    for (unsigned i = 0; i < out->nb_streams; ++i) {
        const AVStream* stream = out->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        QStringList words{QString::fromLatin1(av_get_media_type_string(par->codec_type)),
                          QString::fromLatin1(avcodec_get_name(par->codec_id))};
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            char layout[128] = {};
            av_channel_layout_describe(&par->ch_layout, layout, sizeof layout);
            words << QString::fromLatin1(layout);
        }
        if (const AVDictionaryEntry* language =
                av_dict_get(stream->metadata, "language", nullptr, 0))
            words << QString::fromUtf8(language->value);
        lines << words.join(u' ');
    }
    return lines;
}

} // namespace corvel
