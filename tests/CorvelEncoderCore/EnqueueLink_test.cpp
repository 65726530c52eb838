#include "CorvelEncoderCore/EnqueueLink.h"

#include "JobTestSupport.h"

#include <QDir>
#include <QHash>

#include <gtest/gtest.h>

using namespace corvel;

namespace {

// Serves files from memory and remembers what was asked for.
struct FakeFiles
{
    QHash<QString, QByteArray> files;
    QStringList requested;

    JobFileLoader loader()
    {
        return [this](const QString& path) {
            requested.append(path);
            return files.contains(path) ? std::optional(files.value(path)) : std::nullopt;
        };
    }
};

JobFileResult parseLink(const QString& link, FakeFiles* files = nullptr)
{
    static FakeFiles none;
    return parseEnqueueURL(QUrl(link), (files ? files : &none)->loader());
}

} // namespace

TEST(EnqueueLink, ClipFormAndErrors)
{
    struct Row
    {
        const char* link; // after "corvelencoder://enqueue?source=/a.mov" unless it has a scheme
        Fields fields = {};
        QStringList sources = {"/a.mov"};
        bool start = false;
        std::optional<QString> sender = {};
        const char* error = nullptr; // the message parsing fails with, if it fails
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
        {.link = "&fps=", .error = "Unknown frame rate."}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link);
        QString link = QString::fromUtf8(row.link);
        if (link.startsWith(u'&'))
            link.prepend(u"corvelencoder://enqueue?source=/a.mov"_s);
        const auto result = parseLink(link);
        if (row.error) {
            EXPECT_EQ(errorOf(result), QString::fromUtf8(row.error));
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

TEST(EnqueueLink, JobFileForm)
{
    FakeFiles files;
    files.files.insert(home() + "/cut.corveljob", R"({"sources":["rel.mov"],"output":"r"})");
    files.files.insert("/j.corveljob", R"({"source":"/a.mov"})");
    files.files.insert("/own.corveljob", R"({"source":"/a.mov","sender":"Own"})");
    files.files.insert("/bad.corveljob", R"({"sources":[]})");

    // Relative paths inside a file named relative to the home folder are its neighbours.
    auto result = parseLink("corvelencoder://enqueue?path=cut.corveljob&source=/ignored.mov"
                            "&preset=nonsense&start=1",
                            &files);
    ASSERT_TRUE(result) << errorOf(result).toStdString();
    EXPECT_EQ(result->jobs, QList<ParsedJob>{Fields{.outputDirectory = home() + "/r"}.asJob(
                                home() + "/rel.mov")});
    EXPECT_FALSE(result->start);
    EXPECT_EQ(files.requested, QStringList{home() + "/cut.corveljob"});

    result = parseLink("corvelencoder://enqueue?path=/j.corveljob&sender=S", &files);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->sender, "S");
    result = parseLink("corvelencoder://enqueue?file=/own.corveljob&sender=S", &files);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->sender, "Own");

    // "path" wins over "job" even when it comes later in the query.
    files.requested.clear();
    result = parseLink("corvelencoder://enqueue?JOB=/nowhere.corveljob&Path=/j.corveljob", &files);
    ASSERT_TRUE(result);
    EXPECT_EQ(files.requested, QStringList{"/j.corveljob"});

    EXPECT_EQ(errorOf(parseLink("corvelencoder://enqueue?job=~/x/../missing.corveljob", &files)),
              "Job file not found at " + home() + "/missing.corveljob.");
    EXPECT_EQ(errorOf(parseLink("corvelencoder://enqueue?path=/bad.corveljob", &files)),
              "The job file has no sources.");
}
