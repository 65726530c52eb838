// A dry run must make exactly the jobs the desktop application's import makes, with the
// command-line options as the strongest layer.

#include "CliTestSupport.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/platform/HeadlessDesktop.h"
#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <algorithm>

namespace corvel::clitest {
namespace {

class NoSessionFactory final : public EncodeSessionFactory
{
public:
    std::unique_ptr<EncodeSession> create(const QUuid&, const QString&, const JobSettings&,
                                          EncodeCallbacks) override
    {
        return nullptr;
    }
};

// Identity and time of adding differ between any two imports.
QJsonObject comparable(QJsonObject job)
{
    job.remove("id");
    job.remove("addedAt");
    return job;
}

class DryRunTest : public CliTest
{
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        m_state = path("state");
        AppSettings settings = AppSettings::defaults(path("default-out"));
        settings.lastPresetID = "h264";
        settings.revealWhenDone = false;
        settings.hasSeenIntro = true;
        m_settingsBytes = encodeSettings(settings);
        ASSERT_TRUE(writeFile(m_state + "/settings.json", m_settingsBytes));

        const SavedPreset web{QUuid::createUuid(), "Web Proxy",
                              PresetBody{.codec = Codec::hevc,
                                         .resolution = ResolutionMode::hd720,
                                         .audio = AudioMode::aac,
                                         .quality = QualityTier::low,
                                         .namingPattern = "{name}_web"}};
        ASSERT_TRUE(writeFile(m_state + "/presets.json", encodePresetFile({web})));
        ASSERT_TRUE(writeFile(path("folder/notes.txt"), {}));
        ASSERT_TRUE(makeMovie(path("clip.mov"), 0.2, "64x48", false));
        for (const char* name : {"a.mov", "b.mov", "folder/d.mov", "folder/e.mp4"})
            ASSERT_TRUE(QFile::copy(path("clip.mov"), path(name)));
        writeFile(path("cut.corveljob"),
                  R"({"sender": "studio.corvel.brisk", "audio": "aac", "jobs": [
                        {"source": "a.mov", "preset": "Web Proxy"},
                        {"source": "b.mov", "preset": "h264", "bitrate": 12}]})");
    }

    QString link(const QList<std::pair<QString, QString>>& items) const
    {
        QUrlQuery query;
        for (const auto& [name, value] : items)
            query.addQueryItem(name, QString(value).replace(u' ', u"%20"_s));
        return u"corvelencoder://enqueue?"_s + query.toString();
    }

    // What the desktop application makes of these command-line arguments.
    QJsonArray desktopImport(const QStringList& args)
    {
        QTemporaryDir copy;
        for (const QString name : {"settings.json", "presets.json"})
            QFile::copy(m_state + u'/' + name, copy.filePath(name));
        AppFilesStore store(copy.path());
        NoSessionFactory sessions;
        HeadlessDesktop desktop;
        AppModel model(store, path("unused"), sessions, desktop);
        model.intake().handleIncoming(
            commandLineURLs(QStringList{"corvel-encoder"} + args, m_dir.path()));
        // Both read the sources: the reading sets each job's bitrate.
        EXPECT_TRUE(waitUntil(
            [&] { return std::ranges::none_of(model.store().jobs(), &EncodingJob::probing); },
            30000));
        QJsonArray jobs;
        for (const EncodingJob& job : model.store().jobs())
            jobs.append(comparable(toJson(job)));
        return jobs;
    }

    // The jobs of a JSON dry run, or a test failure.
    QJsonArray dryRun(const QStringList& args)
    {
        const CliRun run =
            runHere(QStringList{"--dry-run", "--json", "--state-dir", m_state} + args);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        QJsonArray jobs;
        for (const QJsonObject& added : eventsNamed(run, "added"))
            jobs.append(comparable(added.value("job").toObject()));
        return jobs;
    }

    QString m_state;
    QByteArray m_settingsBytes;
};

TEST_F(DryRunTest, MakesTheJobsTheDesktopImportMakes)
{
    const QString clip = path("clip.mov");
    writeFile(path("with-fields.corveljob"),
              R"({"source": "clip.mov", "preset": "hevc", "audio": "aac", "quality": "low",
                  "naming": "{name}-x", "output": "renders"})");
    writeFile(path("all-web.corveljob"),
              R"({"sender": "studio.corvel.brisk", "jobs": [
                    {"source": "a.mov", "preset": "Web Proxy"},
                    {"source": "b.mov", "preset": "Web Proxy"}]})");

    const QString hevcLink =
        link({{"source", clip}, {"preset", "HEVC"}, {"output", path("link-out")}, {"start", "1"}});
    const QString bitrateLink = link({{"source", clip}, {"preset", "h264"}, {"bitrate", "12"}});
    const QString qualityLink = link(
        {{"source", clip}, {"preset", "h264"}, {"quality", "medium"}, {"resolution", "1280x536"}});

    // name, command-line arguments, the desktop application's arguments, how many jobs
    const std::tuple<const char*, QStringList, QStringList, int> rows[] = {
        {"plain movie, relative path", {"clip.mov"}, {"clip.mov"}, 1},
        {"job file with a sender and a saved preset", {"cut.corveljob"}, {"cut.corveljob"}, 2},
        {"link that asks to start", {hevcLink}, {hevcLink}, 1},
        {"folder, skipping what is not a movie", {"folder"}, {"folder"}, 2},
        {"options over a plain movie read like a job file's fields",
         {"--preset", "hevc", "--audio=aac", "-o", "renders", "--quality", "low", "--naming",
          "{name}-x", "clip.mov"},
         {"with-fields.corveljob"},
         1},
        {"a preset option replaces each entry's preset and fields",
         {"-p", "Web Proxy", "cut.corveljob"},
         {"all-web.corveljob"},
         2},
        {"a quality option wins over the link's exact bitrate",
         {"--quality", "medium", "--resolution", "1280x536", bitrateLink},
         {qualityLink},
         1},
    };
    for (const auto& [name, cli, desktop, jobs] : rows) {
        SCOPED_TRACE(name);
        const QJsonArray expected = desktopImport(desktop);
        ASSERT_EQ(expected.size(), jobs);
        EXPECT_EQ(dryRun(cli), expected);
    }

    // The desktop application's state stays as it was.
    EXPECT_FALSE(QFile::exists(m_state + "/queue.json"));
    EXPECT_EQ(readFile(m_state + "/settings.json"), m_settingsBytes);
}

} // namespace
} // namespace corvel::clitest
