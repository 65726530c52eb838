// A dry run must make exactly the jobs the desktop application's import makes, with the
// command-line options as the strongest layer.

#include "CliTestSupport.h"

#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoder/platform/HeadlessDesktop.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

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
    job.remove(QStringLiteral("id"));
    job.remove(QStringLiteral("addedAt"));
    return job;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

class DryRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_state = path(QStringLiteral("state"));
        AppSettings settings = AppSettings::defaults(path(QStringLiteral("default-out")));
        settings.lastPresetID = QStringLiteral("h264");
        settings.revealWhenDone = false;
        settings.hasSeenIntro = true;
        m_settingsBytes = encodeSettings(settings);
        writeFile(m_state + QStringLiteral("/settings.json"), m_settingsBytes);

        SavedPreset web;
        web.id = QUuid::createUuid();
        web.name = QStringLiteral("Web Proxy");
        web.body.codec = Codec::hevc;
        web.body.resolution = ResolutionMode::hd720;
        web.body.audio = AudioMode::aac;
        web.body.quality = QualityTier::low;
        web.body.namingPattern = QStringLiteral("{name}_web");
        writeFile(m_state + QStringLiteral("/presets.json"), encodePresetFile({web}));

        writeFile(path(QStringLiteral("folder/notes.txt")), {});
        ASSERT_TRUE(
            makeMovie(path(QStringLiteral("clip.mov")), 0.2, QStringLiteral("64x48"), false));
        for (const char* name : {"a.mov", "b.mov", "folder/d.mov", "folder/e.mp4"})
            ASSERT_TRUE(
                QFile::copy(path(QStringLiteral("clip.mov")), path(QLatin1StringView(name))));
        writeFile(path(QStringLiteral("cut.corveljob")),
                  R"({"sender": "studio.corvel.brisk", "audio": "aac", "jobs": [
                        {"source": "a.mov", "preset": "Web Proxy"},
                        {"source": "b.mov", "preset": "h264", "bitrate": 12}]})");
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString link(const QList<std::pair<QString, QString>>& items) const
    {
        QUrlQuery query;
        for (const auto& [name, value] : items)
            query.addQueryItem(name, QString(value).replace(u' ', QStringLiteral("%20")));
        return QStringLiteral("corvelencoder://enqueue?") + query.toString();
    }

    // What the desktop application makes of these command-line arguments.
    QJsonArray desktopImport(const QStringList& args)
    {
        QTemporaryDir copy;
        for (const QString& name :
             {QStringLiteral("settings.json"), QStringLiteral("presets.json")})
            QFile::copy(m_state + u'/' + name, copy.filePath(name));
        AppFilesStore store(copy.path());
        NoSessionFactory sessions;
        HeadlessDesktop desktop;
        AppModel model(store, path(QStringLiteral("unused")), sessions, desktop);
        model.intake().handleIncoming(
            commandLineURLs(QStringList{QStringLiteral("corvel-encoder")} + args, m_dir.path()));
        // Both read the sources: the reading sets each job's bitrate.
        const auto probing = [&] {
            return std::any_of(model.store().jobs().cbegin(), model.store().jobs().cend(),
                               [](const EncodingJob& job) { return job.probing; });
        };
        QElapsedTimer clock;
        clock.start();
        while (probing() && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QJsonArray jobs;
        for (const EncodingJob& job : model.store().jobs())
            jobs.append(comparable(toJson(job)));
        return jobs;
    }

    // The jobs of a JSON dry run, or a test failure.
    QJsonArray dryRun(const QStringList& args)
    {
        const CliRun run =
            runEncoder(QStringList{QStringLiteral("--dry-run"), QStringLiteral("--json"),
                                   QStringLiteral("--state-dir"), m_state} +
                           args,
                       m_dir.path(), path(QStringLiteral("home")));
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        QJsonArray jobs;
        for (const QByteArray& line : run.lines()) {
            const QJsonObject event = parseLine(line);
            EXPECT_FALSE(event.isEmpty()) << line.toStdString();
            if (event.value(QStringLiteral("event")).toString() == u"added")
                jobs.append(comparable(event.value(QStringLiteral("job")).toObject()));
        }
        return jobs;
    }

    QTemporaryDir m_dir;
    QString m_state;
    QByteArray m_settingsBytes;
};

TEST_F(DryRunTest, MakesTheJobsTheDesktopImportMakes)
{
    const QString clip = path(QStringLiteral("clip.mov"));
    writeFile(path(QStringLiteral("with-fields.corveljob")),
              QJsonDocument(QJsonObject{{"source", clip},
                                        {"preset", "hevc"},
                                        {"audio", "aac"},
                                        {"quality", "low"},
                                        {"naming", "{name}-x"},
                                        {"output", path(QStringLiteral("renders"))}})
                  .toJson());
    writeFile(path(QStringLiteral("all-web.corveljob")),
              R"({"sender": "studio.corvel.brisk", "jobs": [
                    {"source": "a.mov", "preset": "Web Proxy"},
                    {"source": "b.mov", "preset": "Web Proxy"}]})");

    const QString hevcLink = link({{"source", clip},
                                   {"preset", "HEVC"},
                                   {"output", path(QStringLiteral("link-out"))},
                                   {"start", "1"}});
    const QString bitrateLink = link({{"source", clip}, {"preset", "h264"}, {"bitrate", "12"}});
    const QString qualityLink = link(
        {{"source", clip}, {"preset", "h264"}, {"quality", "medium"}, {"resolution", "1280x536"}});

    struct Row
    {
        const char* name;
        QStringList cli;
        QStringList desktop;
        int jobs;
    };
    const QList<Row> rows = {
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QJsonArray expected = desktopImport(row.desktop);
        ASSERT_EQ(expected.size(), row.jobs);
        EXPECT_EQ(dryRun(row.cli), expected);
    }

    // The desktop application's state stays as it was.
    EXPECT_FALSE(QFile::exists(m_state + QStringLiteral("/queue.json")));
    QFile settings(m_state + QStringLiteral("/settings.json"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), m_settingsBytes);
}

} // namespace
} // namespace corvel::clitest
