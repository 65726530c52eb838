#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/JobFileReadings.h"
#include "CorvelEncoderCore/PathNormalization.h"

#include "JobTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace corvel;

namespace {

const std::optional<QString> kBase = u"/x/y"_s;

JobFileResult parse(const QByteArray& json)
{
    return parseJobData(json, kBase);
}

} // namespace

TEST(JobFileReadings, ValueReadingsTellTypesApart)
{
    using Row = std::tuple<const char*, std::optional<QString>, std::optional<double>,
                           std::optional<int64_t>, std::optional<bool>>;
    const Row rows[] = {{R"("  hello \n")", "hello", {}, {}, {}},
                        {R"("   ")", {}, {}, {}, {}},
                        {"null", {}, {}, {}, {}},
                        {"true", {}, {}, {}, true},
                        {"false", {}, {}, {}, false},
                        {"1", {}, 1.0, 1, true},
                        {"0", {}, 0.0, 0, false},
                        {"-2.9", {}, -2.9, -2, {}},
                        {"1e300", {}, 1e300, {}, {}},
                        {"9007199254740993", {}, 9007199254740993.0, 9007199254740993LL, {}},
                        {R"(" 12.5 ")", "12.5", 12.5, {}, {}},
                        {R"("+7")", "+7", 7.0, 7, {}},
                        {R"("2.4e1")", "2.4e1", 24.0, {}, {}},
                        {R"("inf")", "inf", {}, {}, {}},
                        {R"("12abc")", "12abc", {}, {}, {}},
                        {R"("99999999999999999999")", "99999999999999999999", 1e20, {}, {}},
                        {R"("Yes")", "Yes", {}, {}, true},
                        {R"(" y ")", "y", {}, {}, true},
                        {R"("n")", "n", {}, {}, false},
                        {R"("off")", "off", {}, {}, {}},
                        {"[1]", {}, {}, {}, {}}};
    for (const auto& [json, text, number, integer, boolean] : rows) {
        SCOPED_TRACE(json);
        // Wrapped in an array so scalars parse too.
        const QJsonValue value =
            QJsonDocument::fromJson(QByteArray("[") + json + "]").array().at(0);
        EXPECT_EQ(jsonString(value), text);
        EXPECT_EQ(jsonDouble(value), number);
        EXPECT_EQ(jsonInt(value), integer);
        EXPECT_EQ(jsonBool(value), boolean);
    }
}

TEST(PathNormalization, Forms)
{
    const std::tuple<QString, std::optional<QString>, QString> rows[] = {
        {"/abs/clip.mov", kBase, "/abs/clip.mov"},
        {"  a.mov \n", kBase, "/x/y/a.mov"},
        {"../b.mov", kBase, "/x/b.mov"},
        {"./sub//c.mov/", kBase, "/x/y/sub/c.mov"},
        {"../../../../d.mov", kBase, "/d.mov"},
        {"clip.mov", std::nullopt, home() + "/clip.mov"},
        {"~", kBase, home()},
        {"~/m.mov", kBase, home() + "/m.mov"},
        {"~root/r.mov", kBase, "/root/r.mov"},
        {"~no_such_user_q7/a.mov", kBase, "/x/y/~no_such_user_q7/a.mov"},
        {"a~/b", kBase, "/x/y/a~/b"},
        {"file:///Movies/My%20Clip.mov", kBase, "/Movies/My Clip.mov"},
        {"file://host/share/x.mov", kBase, "/share/x.mov"},
        {"FILE:///Movies/a.mov", kBase, "/x/y/FILE:/Movies/a.mov"},
        {"/", kBase, "/"},
        {"rel", QString("/"), "/rel"}};
    for (const auto& [text, base, expected] : rows) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(normalizePath(text, base), expected);
    }
    EXPECT_EQ(parentFolder(u"/x/y/cut.corveljob"), "/x/y");
    EXPECT_EQ(parentFolder(u"/j.corveljob"), "/");
}

TEST(JobFileParser, Errors)
{
    const std::pair<QByteArray, const char*> rows[] = {
        {R"("sources")", "The job file could not be read as JSON."},
        // Deep nesting is the on-disk case's to check (a source array is never read recursively).
        {"{\"source\":\"\xff\xfe\"}", "The job file could not be read as JSON."},
        {QByteArray("{\"source\":\"a\"}\0", 15), "The job file could not be read as JSON."},
        {R"({"sources":["a"]} x)", "The job file could not be read as JSON."},
        {R"([{"sources":["a.mov"]}])", "The job file must be a JSON object."},
        {"{}", "This JSON file is not a Corvel Encoder job."},
        {R"({"Sources":["a.mov"]})", "This JSON file is not a Corvel Encoder job."},
        {R"({"sources":"a.mov"})", "The job file has no sources."},
        {R"({"sources":[]})", "The job file has no sources."},
        {R"({"source":"  "})", "The job file has no sources."},
        {R"({"jobs":{"source":"a.mov"}})", "The job file has no sources."},
        {R"({"jobs":[{"preset":"h264"}]})", "A job is missing a source path."},
        {R"({"jobs":[{"sources":"a.mov"}]})", "A job is missing a source path."},
        {R"({"jobs":["a.mov"]})", "Each entry in jobs must be an object."},
        {R"({"sources":[42]})", "A source must be a path or an object."},
        {R"({"sources":[{"path":" "}]})", "A source object is missing a path."},
        {R"({"sources":["a"],"resolution":" 1920x "})", R"(Unknown resolution "1920x".)"},
        {R"({"sources":["a"],"resolution":"0x720"})", R"(Unknown resolution "0x720".)"},
        {R"({"sources":["a"],"resolution":"1.5x2"})", R"(Unknown resolution "1.5x2".)"},
        {R"({"sources":["a"],"resolution":"99999999999999999999x2"})",
         R"(Unknown resolution "99999999999999999999x2".)"},
        {R"({"sources":["a"],"resolution":"8k"})", R"(Unknown resolution "8k".)"},
        {R"({"sources":["a"],"frameRate":0})", "Unknown frame rate."},
        {R"({"sources":["a"],"frameRate":"29.97fps"})", "Unknown frame rate."},
        {R"({"sources":["a"],"frameRate":null})", "Unknown frame rate."},
        {R"({"sources":["a"],"framerate":""})", "Unknown frame rate."},
        {R"({"sources":["a"],"frameRate":"x","fps":25})", "Unknown frame rate."},
        {R"({"sources":["a"],"audio":" MP3 "})", R"(Unknown audio mode "MP3". Use AAC or PCM.)"},
        {R"({"sources":["a"],"audio":"linear  pcm"})",
         R"(Unknown audio mode "linear  pcm". Use AAC or PCM.)"},
        {R"({"sources":["a"],"quality":"Best"})", R"(Unknown quality "Best".)"},
        {R"({"sources":["a"],"quality":"very+high"})", R"(Unknown quality "very+high".)"},
        // The first error in table order wins; a bad top-level value fails the whole file
        // even when every entry overrides it.
        {R"({"sources":["a"],"quality":"bad","resolution":"bad"})", R"(Unknown resolution "bad".)"},
        {R"({"jobs":[{"source":"a","audio":"aac"}],"audio":"opus"})",
         R"(Unknown audio mode "opus". Use AAC or PCM.)"},
        {R"({"jobs":[{"source":"a"},{"source":"b","fps":-1}]})", "Unknown frame rate."},
        {R"({"sources":[{"path":"a","quality":"ultra"}]})", R"(Unknown quality "ultra".)"},
        // Read as paths, addresses would name some local file.
        {R"({"sources":["/a.mov","file://remote.example/a.mov"]})",
         "file://remote.example/a.mov is on another computer (remote.example); only files and "
         "folders on this one can be used."},
        {R"({"jobs":[{"source":"https://example.com/a.mov"}]})",
         "https://example.com/a.mov is a web address; only files on this computer can be read. "
         "Download it first."},
        {R"({"source":"smb://nas/a.mov"})", "smb://nas/a.mov is not a file on this computer."},
        {R"({"sources":["a"],"output":"file://nas/out"})",
         "file://nas/out is on another computer (nas); only files and folders on this one can be "
         "used."},
        {R"({"sources":[{"path":"a\u0000.mov"}]})",
         "A path contains a NUL character, which no file name can hold."}};
    for (const auto& [json, message] : rows) {
        SCOPED_TRACE(json.constData());
        EXPECT_EQ(errorOf(parse(json)), QString::fromUtf8(message));
    }
}

// Top-level sources come first, then the top-level source, then the jobs. A blank source string
// is kept as an empty path for the missing-source check.
TEST(JobFileParser, SourcesInOrderAndPrecedenceSourceObjectOverEntryOverTopLevel)
{
    const auto result = parse(R"({
        "frameRate": "source", "audio": "aac", "preset": "hevc", "naming": "{name}",
        "output": "out", "reveal": true, "start": 1, "sender": " studio.corvel.brisk ",
        "source": "~/m.mov", "sources": [{"path": "b.mov", "quality": "very high"}, "  "],
        "jobs": [
            {"sources": ["1.mov", {"path": "2.mov", "fps": "25", "audio": "pcm"}], "fps": 24,
             "preset": "h264"},
            {"path": "3.mov", "sources": ["ignored.mov"], "reveal": "no"}
        ]
    })");
    ASSERT_TRUE(result) << errorOf(result).toStdString();
    EXPECT_TRUE(result->start);
    EXPECT_EQ(result->sender, "studio.corvel.brisk");

    const auto job = [](const QString& path, const char* preset, FrameRateMode rate,
                        AudioMode audio, bool reveal, std::optional<QualityTier> quality = {}) {
        return Fields{.presetRaw = preset,
                      .frameRate = rate,
                      .audio = audio,
                      .quality = quality,
                      .namingPattern = "{name}",
                      .outputDirectory = "/x/y/out",
                      .revealWhenDone = reveal}
            .asJob(path);
    };
    EXPECT_EQ(result->jobs,
              (QList<ParsedJob>{
                  job("/x/y/b.mov", "hevc", FrameRateMode::source(), AudioMode::aac, true,
                      QualityTier::veryHigh),
                  job("", "hevc", FrameRateMode::source(), AudioMode::aac, true),
                  job(home() + "/m.mov", "hevc", FrameRateMode::source(), AudioMode::aac, true),
                  job("/x/y/1.mov", "h264", FrameRateMode::exact(24), AudioMode::aac, true),
                  job("/x/y/2.mov", "h264", FrameRateMode::exact(25), AudioMode::pcm, true),
                  job("/x/y/3.mov", "hevc", FrameRateMode::source(), AudioMode::aac, false)}));
}

TEST(JobFileParser, SettingsKeys)
{
    // Each row: settings keys added to {"sources":["a.mov"]}, and the fields they give.
    using R = ResolutionMode;
    const std::pair<const char*, Fields> rows[] = {
        {R"("audio":" AAC ")", {.audio = AudioMode::aac}},
        {R"("audio":"PCM")", {.audio = AudioMode::pcm}},
        {R"("audio":"LPCM")", {.audio = AudioMode::pcm}},
        {R"("audio":"Linear PCM")", {.audio = AudioMode::pcm}},
        {R"("quality":"Low")", {.quality = QualityTier::low}},
        {R"("quality":"med")", {.quality = QualityTier::medium}},
        {R"("quality":"high")", {.quality = QualityTier::high}},
        {R"("quality":"very high")", {.quality = QualityTier::veryHigh}},
        {R"("quality":"Very-High")", {.quality = QualityTier::veryHigh}},
        {R"("quality":"max")", {.quality = QualityTier::veryHigh}},
        {R"("resolution":" Source ")", {.resolution = R::source}},
        {R"("resolution":"4K")", {.resolution = R::uhd4k}},
        {R"("resolution":"1920 × 1080")", {.resolution = R::hd1080}},
        {R"("resolution":"720p")", {.resolution = R::hd720}},
        {R"("resolution":"custom")", {.resolution = R::custom}},
        {R"("resolution":"2048X858")",
         {.resolution = R::custom, .customWidth = 2048, .customHeight = 858}},
        {R"("resolution":"1920xx1080")",
         {.resolution = R::custom, .customWidth = 1920, .customHeight = 1080}},
        {R"("resolution":"+100x3")",
         {.resolution = R::custom, .customWidth = 100, .customHeight = 3}},
        {R"("audio":null,"quality":3,"resolution":"  ","preset":"")", {}},
        {R"("resolution":"2048x858","width":1280,"height":"536")",
         {.resolution = R::custom, .customWidth = 1280, .customHeight = 536}},
        {R"("resolution":"2048x858","width":1280)",
         {.resolution = R::custom, .customWidth = 2048, .customHeight = 858}},
        {R"("width":"1280","height":536)",
         {.resolution = R::custom, .customWidth = 1280, .customHeight = 536}},
        {R"("resolution":"720p","customWidth":640.9,"customHeight":"+360")",
         {.resolution = R::hd720, .customWidth = 640, .customHeight = 360}},
        {R"("width":1280)", {}},
        {R"("width":"","customWidth":5,"height":5)", {}},
        {R"("frameRate":" Source ")", {.frameRate = FrameRateMode::source()}},
        {R"("frameRate":"native")", {.frameRate = FrameRateMode::source()}},
        {R"("frameRate":"29.97")", {.frameRate = FrameRateMode::exact(29.97)}},
        {R"("frameRate":0.5)", {.frameRate = FrameRateMode::exact(0.5)}},
        {R"("fps":240)", {.frameRate = FrameRateMode::exact(120)}},
        {R"("bitrate":"12.5")", {.bitrateMbps = 12.5}},
        {R"("bitrateMbps":true,"bitrate":8)", {}},
        {R"("naming":"","namingPattern":"{name}")", {.namingPattern = "{name}"}},
        {R"("output":5,"outputDirectory":"","destination":"~/r","outputFolder":"/o")",
         {.outputDirectory = home() + "/r"}},
        {R"("outputFolder":"file:///o/p%20q/")", {.outputDirectory = "/o/p q"}},
        {R"("reveal":"Yes")", {.revealWhenDone = true}},
        {R"("reveal":2,"revealWhenDone":true)", {}},
        {R"("revealWhenDone":0)", {.revealWhenDone = false}},
        {R"("preset":" ProRes 422 HQ ")", {.presetRaw = "ProRes 422 HQ"}},
        {R"("Audio":"bogus","FPS":"bogus")", {}}};
    for (const auto& [keys, expected] : rows) {
        SCOPED_TRACE(keys);
        const auto result = parse(QByteArray(R"({"sources":["a.mov"],)") + keys + "}");
        ASSERT_TRUE(result) << errorOf(result).toStdString();
        EXPECT_EQ(result->jobs, QList<ParsedJob>{expected.asJob("/x/y/a.mov")});
    }
}

class JobFileOnDisk : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& data)
    {
        EXPECT_TRUE(corvel::testing::writeFile(m_dir.filePath(name), data));
        return m_dir.filePath(name);
    }

    QTemporaryDir m_dir;
};

TEST_F(JobFileOnDisk, Recognition)
{
    const QByteArray job = R"({"jobs":[{"source":"a.mov"}]})";
    const QByteArray other = R"({"version":1})";
    const std::tuple<const char*, QByteArray, bool> rows[] = {
        {"a.corveljob", "not json at all", true},
        {"b.CorvelEnc", "", true},
        {"c.json", job, true},
        {"d.JSON", job, true},
        {"e.json", other, false},
        {"f.json", "[" + job + "]", false},
        {"g.txt", job, false},
        {"h", job, false},
        {".json", job, false}};
    for (const auto& [name, data, expected] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(looksLikeJobFile(write(name, data)), expected);
    }
    EXPECT_FALSE(looksLikeJobFile(m_dir.filePath("missing.json")));
    EXPECT_TRUE(isCorvelJobPath(u"/a/b/x.CORVELJOB"));
    EXPECT_FALSE(isCorvelJobPath(u"/a/b.corveljob/x"));
    EXPECT_FALSE(isCorvelJobPath(u"/a/corveljob"));

    // Only the head of a JSON file is sniffed: this one is valid, but its closing brace lies
    // beyond that.
    const QString padded =
        write("big.json", R"({"source":"a.mov","pad":")" + QByteArray(kJobSniffBytes, 'p') + "\"}");
    EXPECT_FALSE(looksLikeJobFile(padded));
    // Read whole, its relative paths name the file's neighbours.
    EXPECT_EQ(parseJobFile(padded).value().jobs.value(0).sourcePath, m_dir.filePath("a.mov"));

    // What is not a regular file is never opened: a pipe would block forever.
    const QString fifo = m_dir.filePath("pipe.json");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(looksLikeJobFile(fifo));
    EXPECT_EQ(errorOf(parseJobFile(fifo)), "Job file not found at " + fifo + ".");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.json"));
    EXPECT_FALSE(looksLikeJobFile(m_dir.filePath("folder.json")));
}

TEST_F(JobFileOnDisk, HugeAndDeeplyNestedFilesFailClearlyInBoundedMemory)
{
    // Sparse, so the test costs no disk; reading one whole would still cost 100 MB of memory.
    const QString huge = write("huge.corveljob", R"({"sources":[)");
    const QString hugeJson = write("huge.json", R"({"sources":[)");
    for (const QString& path : {huge, hugeJson})
        ASSERT_TRUE(QFile::resize(path, 100 * 1024 * 1024));
    const QString deep =
        write("deep.corveljob", QByteArray(100'000, '[') + QByteArray(100'000, ']'));

    const long before = corvel::testing::peakMemoryKiB();
    EXPECT_EQ(errorOf(parseJobFile(huge)), "Job file not found at " + huge + ".");
    EXPECT_FALSE(looksLikeJobFile(hugeJson));
    EXPECT_EQ(errorOf(parseJobFile(deep)), "The job file could not be read as JSON.");
    EXPECT_LT(corvel::testing::peakMemoryKiB() - before, 32 * 1024);

    // Small, but too many sources: refused whole before any job is made.
    QByteArray many = R"({"jobs":[{"source":"a"}],"sources":[)";
    for (int i = 0; i < 1'000'000; ++i)
        many += i ? R"(,"a")" : R"("a")";
    EXPECT_EQ(errorOf(parseJobFile(write("many.corveljob", many + "]}"))),
              "The job file lists 1,000,001 sources; at most 100,000 are read.");
}
