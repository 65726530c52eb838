// Writes seed state files for fuzz_stateFiles with the app's own writers, so the seeds are
// exactly what the app saves: make_stateFiles_seeds FOLDER

#include "CorvelEncoder/AppSettings.h"
#include "CorvelEncoder/StateFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace {

using namespace corvel;

bool write(const QDir& folder, const char* name, const QByteArray& bytes)
{
    QFile file(folder.filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

// The app writes compact JSON; an indented copy stands for a file edited by hand.
QByteArray indented(const QByteArray& compact)
{
    return QJsonDocument::fromJson(compact).toJson(QJsonDocument::Indented);
}

AppSettings fullSettings()
{
    AppSettings s = AppSettings::defaults(QStringLiteral("/home/ana/Videos/Corvel Encoder"));
    s.maxParallel = 3;
    s.revealWhenDone = false;
    s.lastPresetID = QStringLiteral("custom:6F9619FF-8B86-D011-B42D-00C04FC964FF");
    s.watchEnabled = true;
    s.watchFolder = QStringLiteral("/home/ana/Drop");
    s.watchOutputDirectory = QStringLiteral("/home/ana/Drop/out");
    s.watchPresetID = QStringLiteral("h264-delivery");
    s.watchProcessExisting = true;
    s.dockBounceWhenIdle = false;
    s.hasSeenIntro = true;
    s.seenWatchKeys = {QStringLiteral("/home/ana/Drop/a.mov|1048576|1700000000"),
                       QStringLiteral("/home/ana/Drop/b.mp4|2048|1700000100")};
    return s;
}

QList<SavedPreset> presets()
{
    SavedPreset web;
    web.id = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    web.name = QStringLiteral("Web 720p");
    web.body.codec = Codec::h264;
    web.body.resolution = ResolutionMode::hd720;
    web.body.frameRate = FrameRateMode::exact(29.97);
    web.body.audio = AudioMode::aac;
    web.body.bitrateMbps = 8.5;
    web.body.bitrateFollowsQuality = false;
    web.body.quality = QualityTier::medium;
    web.body.namingPattern = QStringLiteral("{name}_{preset}_{date}");

    SavedPreset alpha;
    alpha.id = QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-000000000000"));
    alpha.name = QStringLiteral("Überlagerung – alpha");
    alpha.body.codec = Codec::hevcWithAlpha;
    alpha.body.resolution = ResolutionMode::custom;
    alpha.body.customWidth = 1280;
    alpha.body.customHeight = 536;
    alpha.body.quality = QualityTier::veryHigh;

    SavedPreset plain;
    plain.id = QUuid::fromString(QStringLiteral("A1B2C3D4-0000-4000-8000-0123456789AB"));
    plain.name = QStringLiteral("Proxy");
    plain.body.codec = Codec::proRes422Proxy;
    plain.body.resolution = ResolutionMode::hd1080;
    plain.body.quality = QualityTier::low;
    return {web, alpha, plain};
}

QList<EncodingJob> jobs()
{
    const QDateTime added = dateFromReferenceSeconds(721'000'000.125);
    EncodingJob queued;
    queued.id = QUuid::fromString(QStringLiteral("11111111-2222-4333-8444-555555555555"));
    queued.sourcePath = QStringLiteral("/home/ana/Movies/Interview A.mov");
    queued.probing = true;
    queued.settings.presetID = QStringLiteral("prores-422-hq");
    queued.settings.presetName = QStringLiteral("ProRes 422 HQ");
    queued.settings.outputDirectory = QStringLiteral("/home/ana/Videos/Corvel Encoder");
    queued.addedAt = added;

    EncodingJob done = queued;
    done.id = QUuid::fromString(QStringLiteral("22222222-3333-4444-8555-666666666666"));
    done.sourcePath = QStringLiteral("/media/card/DCIM/clip 02.mp4");
    done.probing = false;
    done.sourceInfo = SourceInfo{1920, 1080, 23.976, 12.5, true, false, QStringLiteral("HEVC")};
    done.settings.presetID = QStringLiteral("custom:6F9619FF-8B86-D011-B42D-00C04FC964FF");
    done.settings.presetName = QStringLiteral("Web 720p");
    done.settings.body = presets().front().body;
    done.settings.revealWhenDone = true;
    done.status = JobStatus::completed;
    done.progress = 1;
    done.outputPath = QStringLiteral("/home/ana/Videos/Corvel Encoder/clip 02_H264.mp4");
    done.hardwareEncoder = true;
    done.addedAt = added.addMSecs(1500);

    EncodingJob failed = done;
    failed.id = QUuid::fromString(QStringLiteral("33333333-4444-4555-8666-777777777777"));
    failed.sourceInfo = SourceInfo{720, 1280, 30, 3.2, false, true, QStringLiteral("ProRes 4444")};
    failed.status = JobStatus::failed;
    failed.progress = 0.4375;
    failed.errorMessage = QStringLiteral("The disk is full.");
    failed.outputPath.reset();
    failed.hardwareEncoder = false;

    EncodingJob encoding = done;
    encoding.id = QUuid::fromString(QStringLiteral("44444444-5555-4666-8777-888888888888"));
    encoding.status = JobStatus::encoding;
    encoding.progress = 0.25;
    encoding.etaSeconds = 42.5;
    encoding.outputPath.reset();

    EncodingJob paused = encoding;
    paused.id = QUuid::fromString(QStringLiteral("55555555-6666-4777-8888-999999999999"));
    paused.status = JobStatus::paused;
    paused.etaSeconds.reset();
    EncodingJob cancelled = paused;
    cancelled.id = QUuid::fromString(QStringLiteral("66666666-7777-4888-8999-AAAAAAAAAAAA"));
    cancelled.status = JobStatus::cancelled;
    return {queued, done, failed, encoding, paused, cancelled};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return 1;
    const AppSettings defaults = AppSettings::defaults(QStringLiteral("/home/ana/Videos"));
    const bool ok = write(folder, "settings-defaults.json", indented(encodeSettings(defaults))) &&
                    write(folder, "settings.json", encodeSettings(fullSettings())) &&
                    write(folder, "presets.json", encodePresetFile(presets())) &&
                    write(folder, "presets-empty.json", encodePresetFile({})) &&
                    write(folder, "queue.json", encodeQueueFile(jobs())) &&
                    write(folder, "queue-one.json", indented(encodeQueueFile({jobs().front()})));
    return ok ? 0 : 1;
}
