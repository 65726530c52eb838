#include "CorvelEncoder/engine/EncodePlan.h"

#include "CorvelEncoder/engine/prores/ProResProfile.h"
#include "CorvelEncoderCore/Naming.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/timecode.h>
}

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {

VideoSettings videoSettings(Codec codec, int width, int height, double fps, double bitrateMbps,
                            const ColorTags& color, bool hardware)
{
    VideoSettings s;
    s.codec = codec;
    s.width = width;
    s.height = height;
    s.fps = fps;
    s.frameDuration = rationalFrameDuration(fps);
    s.color = color;
    s.hardware = hardware;
    if (usesBitrate(codec)) {
        const double bits = bitrateMbps * 1'000'000.0;
        const int64_t truncated = std::isfinite(bits) && bits < 9.0e18 && bits > 0
                                      ? static_cast<int64_t>(bits)
                                      : (bits >= 9.0e18 ? INT64_MAX : 0);
        s.averageBitRate = truncated > 100'000 ? truncated : 100'000;
        const int64_t interval = std::llround(2.0 * fps);
        s.maxKeyFrameInterval = static_cast<int>(std::clamp<int64_t>(interval, 1, 1'000'000));
        s.allowFrameReordering = true;
        s.highProfile = codec == Codec::h264;
    }
    return s;
}

AudioSettings pcmSettings(double sampleRate, int channels, int depth)
{
    return {AudioFormat::pcm, static_cast<int>(std::lround(sampleRate)), channels, depth, 0, {}};
}

AudioSettings aacSettings(double sampleRate, int channels, QualityTier tier)
{
    const int position = static_cast<int>(allQualityTiers().indexOf(tier));
    return {AudioFormat::aac,
            static_cast<int>(std::lround(sampleRate)),
            channels,
            16,
            128'000 + 64'000 * std::max(position, 0),
            {}};
}

const char* avCodec(Codec codec)
{
    if (proResProfile(codec))
        return "prores";
    return codec == Codec::h264 ? "h264" : "hevc";
}

QList<AudioCandidate> audioCandidates(AudioMode mode, const AudioTags& source, QualityTier tier)
{
    QList<AudioCandidate> list;
    if (mode == AudioMode::pcm) {
        const int c = std::clamp(source.channels, 1, 8);
        const double r =
            source.sampleRate >= 8000 && source.sampleRate <= 192000 ? source.sampleRate : 48000;
        // The source's own layout while its channels are all kept: FFmpeg's usual six-channel
        // layout is 5.1 with back speakers, which would mislabel a 5.1(side) mix.
        const QString layout = c == source.channels ? source.layout : QString();
        for (AudioSettings pcm : {pcmSettings(r, c, 24), pcmSettings(r, c, 16),
                                  pcmSettings(48000, std::clamp(source.channels, 1, 2), 16)}) {
            if (pcm.channels == source.channels)
                pcm.layout = layout;
            list.append({pcm, pcm});
        }
    } else {
        const int a = source.channels >= 2 ? 2 : 1;
        for (const double rate : {48000.0, source.sampleRate})
            list.append({pcmSettings(rate, a, 16), aacSettings(rate, a, tier)});
    }
    return list;
}

namespace {

QString trackName(const QString& kind, int number, const QString& language)
{
    return QStringLiteral("%1 track %2").arg(kind).arg(number) +
           (language.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(language));
}

} // namespace

AudioTrackPlan planAudioTrack(const AudioTrack& track, int number, AudioMode mode, QualityTier tier)
{
    AudioTrackPlan plan{track.stream,
                        trackName(QStringLiteral("Audio"), number, track.language),
                        {},
                        track.language,
                        track.title,
                        track.isDefault,
                        {}};
    if (!track.readable) {
        plan.note = plan.name + QStringLiteral(" could not be read. Writing the others.");
        return plan;
    }
    plan.candidates = audioCandidates(mode, track.tags, tier);
    const int written = plan.candidates.front().writer.channels;
    if (mode == AudioMode::pcm && written < track.tags.channels)
        plan.note = plan.name + QStringLiteral(" has %1 channels; PCM here keeps at most %2, so "
                                               "it is mixed down to %2.")
                                    .arg(track.tags.channels)
                                    .arg(written);
    return plan;
}

SubtitleTrackPlan planSubtitleTrack(const SubtitleTrack& track, int number, FileType type)
{
    SubtitleTrackPlan plan{track.stream,
                           trackName(QStringLiteral("Subtitle"), number, track.language),
                           track.text,
                           track.language,
                           track.title,
                           track.isDefault,
                           {}};
    if (plan.kept)
        return plan;
    const QString target = type == FileType::mpeg4 ? QStringLiteral("MP4") : QStringLiteral("MOV");
    const bool captions = track.codec.startsWith(u"eia_") || track.codec == u"cc_dec";
    plan.note = plan.name +
                (captions ? QStringLiteral(" holds closed captions (%1), which %2 output does not "
                                           "carry here. Left out.")
                          : QStringLiteral(" is %1, which %2 output holds only as text. Left out."))
                    .arg(track.codec, target);
    return plan;
}

OutputNames& OutputNames::shared()
{
    static OutputNames names;
    return names;
}

QString OutputNames::reserve(const QString& directory, const QString& base, const QString& ext)
{
    std::lock_guard lock(m_mutex);
    const QString path = uniqueFileURL(directory, base, ext, [this](const QString& candidate) {
        // lstat, not stat: writing through a dangling link would create its target elsewhere.
        struct stat st = {};
        if (::lstat(QFile::encodeName(candidate).constData(), &st) == 0 ||
            m_reserved.contains(candidate))
            return true;
        const QString partial = partialOutputPath(candidate);
        return ::lstat(QFile::encodeName(partial).constData(), &st) == 0 &&
               !removeAbandonedPartial(partial);
    });
    m_reserved.insert(path);
    return path;
}

std::expected<std::unique_ptr<ClaimedOutput>, int>
OutputNames::claim(const QString& directory, const QString& base, const QString& ext)
{
    bool sweep = false;
    {
        std::lock_guard lock(m_mutex);
        sweep = !m_sweptFolders.contains(directory);
        m_sweptFolders.insert(directory);
    }
    if (sweep)
        removeAbandonedPartials(directory);
    // Another process may create the chosen name between the check and the creation; the next
    // check then sees it on disk.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = reserve(directory, base, ext);
        auto claimed = ClaimedOutput::create(*this, path);
        if (claimed) {
            std::lock_guard lock(m_mutex);
            m_claimed.insert(path);
            if (m_journal)
                m_journal->opened(path);
            return claimed;
        }
        unreserve(path);
        if (claimed.error() != EEXIST)
            return std::unexpected(claimed.error());
    }
    return std::unexpected(EEXIST);
}

void OutputNames::release(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_reserved.remove(path);
    if (m_claimed.remove(path) && m_journal)
        m_journal->settled(path);
}

void OutputNames::unreserve(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_reserved.remove(path);
}

void OutputNames::setJournal(OutputJournal* journal)
{
    std::lock_guard lock(m_mutex);
    m_journal = journal;
}

bool OutputNames::isReserved(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_reserved.contains(path);
}

namespace {

QString standardised(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // Not on disk yet: resolve the folder and keep the name.
    const QString folder = info.absoluteDir().canonicalPath();
    return QDir::cleanPath((folder.isEmpty() ? info.absolutePath() : folder) + u'/' +
                           info.fileName());
}

// The same moment as `timecode` at `sourceFps`, counted in frames of the output rate. Editors
// conform by timecode, so a changed rate keeps the start time, not the frame number.
QString retimedTimecode(const QString& timecode, double sourceFps, RationalTime frameDuration)
{
    AVTimecode in{};
    const AVRational sourceRate = av_d2q(sourceFps >= 1 ? sourceFps : 24, 1'000'000);
    if (timecode.isEmpty() ||
        av_timecode_init_from_string(&in, sourceRate, timecode.toLatin1().constData(), nullptr) < 0)
        return {};
    const AVRational outRate{frameDuration.timescale, static_cast<int>(frameDuration.value)};
    const int64_t frames = av_rescale_q(in.start, av_inv_q(sourceRate), av_inv_q(outRate));
    AVTimecode out{};
    const bool drop =
        (in.flags & AV_TIMECODE_FLAG_DROPFRAME) && outRate.num == 30000 && outRate.den == 1001;
    if (av_timecode_init(&out, outRate, drop ? AV_TIMECODE_FLAG_DROPFRAME : 0,
                         static_cast<int>(frames), nullptr) < 0)
        return {};
    char text[AV_TIMECODE_STR_SIZE] = {};
    return QString::fromLatin1(av_timecode_make_string(&out, text, 0));
}

QString sentence(const std::string& text)
{
    QString s = QString::fromLocal8Bit(text.c_str()).trimmed();
    if (s.isEmpty())
        return s;
    s[0] = s[0].toUpper();
    return s.endsWith(u'.') ? s : s + u'.';
}

} // namespace

std::pair<PixelSize, std::optional<PixelSize>>
roundedSize(Codec codec, PixelSize upright, PixelSize fitted, bool squarePixels, bool interlaced)
{
    const bool rounded = squarePixels && fitted.width == upright.width - upright.width % 2 &&
                         fitted.height == upright.height - upright.height % 2;
    if (!rounded || fitted == upright)
        return {fitted, std::nullopt};
    PixelSize size = fitted;
    // Each field of an interlaced picture needs the same number of rows.
    if (!usesBitrate(codec) && !interlaced)
        size.height = upright.height;
    return {size, size == upright ? std::nullopt : std::optional(size)};
}

std::expected<EncodePlan, EncodeFailure> makePlan(const InspectedMedia& media,
                                                  const JobSettings& settings,
                                                  const QString& sourcePath, const QDateTime& now)
{
    const PresetBody& body = settings.body;
    EncodePlan plan;
    plan.renderSize = fittedSize({media.info.width, media.info.height}, body.resolution,
                                 {body.customWidth, body.customHeight});
    const bool sideways = media.quarterTurns % 2 == 1;
    const PixelSize upright{
        static_cast<int64_t>(sideways ? media.naturalHeight : media.naturalWidth),
        static_cast<int64_t>(sideways ? media.naturalWidth : media.naturalHeight)};
    std::tie(plan.renderSize, plan.cropTo) = roundedSize(
        body.codec, upright, plan.renderSize,
        upright.width == media.info.width && upright.height == media.info.height, media.interlaced);
    plan.fps = resolvedFrameRate(body.frameRate, media.info.frameRate);
    plan.frameDuration = rationalFrameDuration(plan.fps);
    // Refused before anything is created: decoders and encoders hold dozens of frames, so a
    // frame much beyond 8K drives memory to many gigabytes.
    for (const auto& [what, size] :
         {std::pair{QStringLiteral("output"), plan.renderSize},
          std::pair{QStringLiteral("source"),
                    PixelSize{static_cast<int64_t>(media.naturalWidth),
                              static_cast<int64_t>(media.naturalHeight)}}}) {
        if (size.width * size.height > kMaxFramePixels)
            return std::unexpected(EncodeFailure::message(
                QStringLiteral("The %1 size %2 is too large to encode: a frame may have at most "
                               "as many pixels as 8192×4352.")
                    .arg(what, formatPixels(size, u"×"))));
        // ProRes frame headers hold each dimension in 16 bits.
        if (proResProfile(body.codec) && std::max(size.width, size.height) > 0xFFFF)
            return std::unexpected(EncodeFailure::message(
                QStringLiteral("The %1 size %2 is too large for ProRes: a frame may be at most "
                               "65535 pixels wide and high.")
                    .arg(what, formatPixels(size, u"×"))));
    }

    const QString folder = QDir::cleanPath(settings.outputDirectory);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), ec);
    if (ec || !QFileInfo(folder).isDir()) {
        const QString reason =
            ec ? sentence(ec.message()) : QStringLiteral("The path is not a folder.");
        return std::unexpected(EncodeFailure::message(
            QStringLiteral("Could not create the output folder. ") + reason));
    }

    const QString name = outputFilename(QFileInfo(sourcePath).fileName(), settings, plan.renderSize,
                                        dateStamp(now, QTimeZone::systemTimeZone()));
    const int dot = static_cast<int>(name.lastIndexOf(u'.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot + 1) : QString();
    auto claimed = OutputNames::shared().claim(QDir(folder).absolutePath(), base, ext);
    if (!claimed)
        return std::unexpected(
            EncodeFailure::message(QStringLiteral("Could not write the output file. ") +
                                   sentence(std::generic_category().message(claimed.error()))));
    plan.output = std::move(*claimed);
    plan.outputPath = plan.output->finalPath();

    // The output must never be the source, even one missing from disk that shares its name.
    if (standardised(plan.outputPath) == standardised(sourcePath)) {
        plan.output->discard();
        return std::unexpected(
            EncodeFailure::message(QStringLiteral("Refusing to overwrite the source file.")));
    }

    plan.mirrored = media.mirrored;
    plan.quarterTurns = media.quarterTurns;
    const QString bt709 = QStringLiteral("bt709");
    plan.color.primaries = media.color.primaries.value_or(bt709);
    plan.color.transfer = media.color.transfer.value_or(bt709);
    // Every output is Y'CbCr converted by swscale, so the matrix must be one it converts with:
    // an RGB source's "gbr" or a constant-luminance or YCgCo matrix counts as absent, and the
    // picture is converted to, and tagged, BT.709 (a file tagged "gbr" is not Y'CbCr at all).
    static const QStringList convertible = {"bt709", "smpte170m", "bt470bg",
                                            "fcc",   "smpte240m", "bt2020nc"};
    plan.color.matrix = media.color.matrix && convertible.contains(*media.color.matrix)
                            ? *media.color.matrix
                            : bt709;
    plan.rendering = videoRendering(body.codec, plan.color, media.info.bitDepth, media.hdr);
    plan.color = plan.rendering.color;

    const bool sameFields = plan.renderSize.height == static_cast<int64_t>(media.naturalHeight) &&
                            media.quarterTurns % 2 == 0 &&
                            std::abs(plan.fps - media.info.frameRate) < 0.01;
    plan.interlaced = media.interlaced && sameFields;
    plan.topFieldFirst = media.topFieldFirst;
    plan.deinterlace = media.interlaced && !sameFields;
    plan.timecode = retimedTimecode(media.timecode, media.info.frameRate, plan.frameDuration);

    QStringList notes;
    if (body.frameRate.isSource() && media.info.frameRate < 1)
        notes << QStringLiteral("Frame rate was missing, using 24 fps.");
    if (body.frameRate.isSource() && media.averageFrameRate >= 1 &&
        std::abs(media.averageFrameRate - media.info.frameRate) > 0.01)
        notes << QStringLiteral("Variable frame rate, encoded at %1 fps.").arg(formatFPS(plan.fps));
    if (plan.rendering.toneMap)
        notes << QStringLiteral("HDR (%1) will be converted to SDR.")
                     .arg(plan.rendering.from == Transfer::hlg ? "HLG" : "PQ");
    if (media.hdr.dolbyVision)
        notes << QStringLiteral("The Dolby Vision layer will not be kept.");
    if (plan.cropTo)
        notes << QStringLiteral("The last odd column or row is cropped off.");
    if (media.info.hasAlpha && !keepsAlpha(body.codec))
        notes << QStringLiteral("Alpha will not be kept.");

    if (plan.interlaced)
        notes << QStringLiteral("Interlaced, fields kept.");
    if (plan.deinterlace)
        notes << QStringLiteral("Interlaced, deinterlaced for the new size or rate.");
    if (!plan.timecode.isEmpty())
        notes << QStringLiteral("Starts at timecode %1.").arg(plan.timecode);

    plan.fileType = ext == u"mp4" ? FileType::mpeg4 : FileType::quickTime;
    int keptAudio = 0;
    for (const AudioTrack& track : media.audioTracks) {
        plan.audioTracks.append(planAudioTrack(track, static_cast<int>(plan.audioTracks.size()) + 1,
                                               body.audio, body.quality));
        keptAudio += plan.audioTracks.back().kept() ? 1 : 0;
    }
    QStringList subtitleLanguages;
    for (const SubtitleTrack& track : media.subtitleTracks) {
        plan.subtitleTracks.append(planSubtitleTrack(
            track, static_cast<int>(plan.subtitleTracks.size()) + 1, plan.fileType));
        if (plan.subtitleTracks.back().kept)
            subtitleLanguages << (track.language.isEmpty() ? QStringLiteral("und")
                                                           : track.language);
    }
    // With no track left there are no others to write.
    if (keptAudio == 0) {
        for (AudioTrackPlan& track : plan.audioTracks)
            track.note = &track == &plan.audioTracks.front()
                             ? QStringLiteral("Audio format was not readable. Writing video only.")
                             : QString();
    }
    plan.chapters = media.chapters > 0;
    if (keptAudio > 1)
        notes << QStringLiteral("%1 audio tracks.").arg(keptAudio);
    if (!subtitleLanguages.isEmpty())
        notes
            << QStringLiteral("Subtitles (%1).").arg(subtitleLanguages.join(QStringLiteral(", ")));
    if (plan.chapters)
        notes << QStringLiteral("%1 chapters.").arg(media.chapters);

    const QString audioLabel =
        media.audio || keptAudio > 0 ? label(body.audio) : QStringLiteral("no audio");
    const QString mainLine = displayName(body.codec) + QStringLiteral("  ") +
                             formatPixels(plan.renderSize, u"×") + QStringLiteral("  ") +
                             formatFPS(plan.fps) + QStringLiteral(" fps  ") + audioLabel +
                             QStringLiteral("  →  ") + QFileInfo(plan.outputPath).fileName();
    plan.summary = (QStringList{mainLine} + notes).join(u' ');
    return plan;
}

} // namespace corvel
