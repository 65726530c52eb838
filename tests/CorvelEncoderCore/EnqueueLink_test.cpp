#include "CorvelEncoderCore/EnqueueLink.h"

#include "JobTestSupport.h"

#include <QDir>
#include <QHash>

#include <gtest/gtest.h>

using namespace corvel;

namespace {

// Parses with the job files a link may name served from memory.
JobFileResult parseLink(const QString& link)
{
    static const QHash<QString, QByteArray> files = {
        {home() + "/cut.corveljob", R"({"sources":["rel.mov"],"output":"r"})"},
        {"/j.corveljob", R"({"source":"/a.mov"})"},
        {"/own.corveljob", R"({"source":"/a.mov","sender":"Own"})"},
        {"/other.corveljob", R"({"source":"/other.mov"})"},
        {"/bad.corveljob", R"({"sources":[]})"}};
    return parseEnqueueURL(QUrl(link), [](const QString& path) {
        return files.contains(path) ? std::optional(files.value(path)) : std::nullopt;
    });
}

} // namespace

TEST(EnqueueLink, ClipAndJobFileFormsAndErrors)
{
    struct Row
    {
        const char* link; // after "corvelencoder://enqueue?source=/a.mov" unless it has a scheme
        Fields fields = {};
        QStringList sources = {"/a.mov"};
        bool start = false;
        std::optional<QString> sender = {};
        QString error = {}; // the message parsing fails with, if it fails
    };
    using R = ResolutionMode;
    const Row rows[] = {
        {"CORVELENCODER://enqueue?source=/a.mov"},
        {"corvelencoder://bad host:99999/?source=/a.mov"},
        {"corvelencoder://enqueue?SOURCE=/a.mov&Source=/b.mov&sources=/c.mov&source=/d.mov",
         {},
         {"/a.mov", "/b.mov", "/d.mov", "/c.mov"}},
        {"corvelencoder://enqueue?source=clip.mov", {}, {QDir::homePath() + "/clip.mov"}},
        {"corvelencoder://enqueue?source=/My%20Clip+1%26.mov&x=%3D", {}, {"/My Clip+1&.mov"}},
        {"&preset=H.264&preset=hevc&output=/Renders&start=1&sender=studio.corvel.brisk",
         {.presetRaw = "H.264", .outputDirectory = "/Renders"},
         {"/a.mov"},
         true,
         "studio.corvel.brisk"},
        {"&quality=very%20high&fps=23.976&start=yes&reveal=0",
         {.frameRate = FrameRateMode::exact(23.976),
          .quality = QualityTier::veryHigh,
          .revealWhenDone = false},
         {"/a.mov"},
         true},
        {"&start&sender="},
        // "framerate" and "frameRate" are one name once case is ignored.
        {"&fps=24&FrameRate=30&framerate=25", {.frameRate = FrameRateMode::exact(30)}},
        {"&fps&fps=24&destination=out&outputDirectory=/o",
         {.frameRate = FrameRateMode::exact(24), .outputDirectory = "/o"}},
        {"&bitrateMbps=9&BITRATE=12.5&namingPattern=%7Bname%7D",
         {.bitrateMbps = 12.5, .namingPattern = "{name}"}},
        {"&width=1280&height=536&audio=aac&resolution=",
         {.resolution = R::custom,
          .customWidth = 1280,
          .customHeight = 536,
          .audio = AudioMode::aac}},
        {"&width=1280&customHeight=536"},
        // A blank clip is kept for the missing-source check when the job is added.
        {"corvelencoder://enqueue?source=", {}, {QString()}},
        {.link = "corvelencoder://enqueue", .error = "The link has no source or job file."},
        {.link = "corvelencoder://enqueue?preset=h264&start=1",
         .error = "The link has no source or job file."},
        {.link = "corvelenc://enqueue?source=/a.mov", .error = "Not a corvelencoder URL."},
        {.link = "https://example.com/?source=/a.mov", .error = "Not a corvelencoder URL."},
        {.link = "", .error = "Not a corvelencoder URL."},
        {.link = "&quality=very+high", .error = R"(Unknown quality "very+high".)"},
        {.link = "&fps=", .error = "Unknown frame rate."},
        // Job files: relative paths inside one named relative to the home folder are its
        // neighbours, and the link's own source and settings are ignored.
        {"corvelencoder://enqueue?path=cut.corveljob&source=/ignored.mov&preset=nonsense&start=1",
         {.outputDirectory = home() + "/r"},
         {home() + "/rel.mov"}},
        {"corvelencoder://enqueue?path=/j.corveljob&sender=S", {}, {"/a.mov"}, false, "S"},
        {"corvelencoder://enqueue?file=/own.corveljob&sender=S", {}, {"/a.mov"}, false, "Own"},
        // "path" wins over "job" even when it comes later in the query.
        {"corvelencoder://enqueue?JOB=/other.corveljob&Path=/j.corveljob", {}, {"/a.mov"}},
        {.link = "corvelencoder://enqueue?job=~/x/../missing.corveljob",
         .error = "Job file not found at " + home() + "/missing.corveljob."},
        {.link = "corvelencoder://enqueue?path=/bad.corveljob",
         .error = "The job file has no sources."}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link);
        QString link = QString::fromUtf8(row.link);
        if (link.startsWith(u'&'))
            link.prepend(u"corvelencoder://enqueue?source=/a.mov"_s);
        const auto result = parseLink(link);
        if (!row.error.isEmpty()) {
            EXPECT_EQ(errorOf(result), row.error);
            continue;
        }
        ASSERT_TRUE(result) << errorOf(result).toStdString();
        EXPECT_EQ(result->start, row.start);
        EXPECT_EQ(result->sender, row.sender);
        ASSERT_EQ(result->jobs.size(), row.sources.size());
        for (qsizetype i = 0; i < row.sources.size(); ++i)
            EXPECT_EQ(result->jobs[i], row.fields.asJob(row.sources[i]));
    }
}
