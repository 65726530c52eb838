// The reporter of --json: one JSON event a line on stdout, the human messages on stderr.

#include "CorvelEncoderCore/JobTexts.h"
#include "CorvelEncoderCore/JsonCoding.h"
#include "cli/CliMessageLines.h"
#include "cli/CliReporter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvel {

namespace {

// What the source carries beside its picture, for a dry run.
QJsonObject carried(const SourceInfo& info)
{
    return {{QStringLiteral("audioTracks"), info.audioTracks},
            {QStringLiteral("subtitles"), QJsonArray::fromStringList(info.subtitles)},
            {QStringLiteral("chapters"), info.chapters},
            {QStringLiteral("text"), tracksText(info)}};
}

class JsonReporter final : public CliReporter
{
public:
    JsonReporter(FILE* out, FILE* err) : m_out(out), m_messages(err) {}

    void added(const EncodingJob& job) override
    {
        emitEvent("added", {{QStringLiteral("job"), toJson(job)}});
    }
    void planned(const EncodingJob& job, const QString& output) override
    {
        QJsonObject fields{{QStringLiteral("job"), toJson(job)}, {"output", output}};
        if (const auto note = dynamicRangeNote(job))
            fields.insert(QStringLiteral("note"), *note);
        if (job.sourceInfo)
            fields.insert(QStringLiteral("source"), carried(*job.sourceInfo));
        emitEvent("added", fields);
    }
    void progress(const EncodingJob& job) override
    {
        QJsonObject fields{{QStringLiteral("id"), uuidString(job.id)},
                           {QStringLiteral("progress"), job.progress}};
        if (job.etaSeconds)
            fields.insert(QStringLiteral("eta"), *job.etaSeconds);
        emitEvent("progress", fields);
    }
    void ready(const EncodingJob& job) override
    {
        emitEvent("ready",
                  {{QStringLiteral("id"), uuidString(job.id)},
                   {QStringLiteral("output"), job.outputPath.value_or(QString())},
                   {QStringLiteral("hardware"), job.hardwareEncoder.value_or(false)},
                   {QStringLiteral("tracks"), QJsonArray::fromStringList(job.outputTracks)}});
    }
    void finished(const EncodingJob& job) override
    {
        emitEvent("finished", {{QStringLiteral("id"), uuidString(job.id)},
                               {QStringLiteral("output"), job.outputPath.value_or(QString())}});
    }
    void failed(const EncodingJob& job) override
    {
        if (m_messages.failure(job))
            writeLine(m_messages.err(), m_messages.last());
        emitEvent("failed", {{QStringLiteral("id"), uuidString(job.id)},
                             {QStringLiteral("error"), job.errorMessage.value_or(QString())}});
    }
    void cancelled(const EncodingJob& job) override
    {
        emitEvent("cancelled", {{QStringLiteral("id"), uuidString(job.id)}});
    }
    void skipped(const QString& input, const QString& reason) override
    {
        m_messages.isNew(reason);
        writeLine(m_messages.err(), skippedText(input, reason));
        emitEvent("skipped", {{"input", input}, {"reason", reason}});
    }
    void alreadyEncoded(const EncodingJob& job, const QString& output) override
    {
        emitEvent("skipped", {{"input", job.sourcePath},
                              {"reason", QStringLiteral("already encoded")},
                              {"output", output}});
    }
    void log(const QString& text, bool isError) override
    {
        if (!m_messages.isNew(text))
            return;
        if (isError)
            writeLine(m_messages.err(), text);
        emitEvent("log", {{QStringLiteral("text"), text}, {QStringLiteral("error"), isError}});
    }
    void banner(const QString& text) override
    {
        if (!m_messages.isNew(text))
            return;
        writeLine(m_messages.err(), text);
        emitEvent("banner", {{QStringLiteral("text"), text}});
    }
    void done(const std::optional<CliSummary>& summary) override
    {
        for (const QString& line : m_messages.unshownFailures())
            writeLine(m_messages.err(), line);
        if (!summary)
            return;
        emitEvent("summary", {{"finished", summary->finished},
                              {"failed", summary->failed},
                              {"cancelled", summary->cancelled},
                              {"skipped", summary->skipped},
                              {"alreadyEncoded", summary->alreadyEncoded},
                              {"seconds", double(summary->elapsedMs) / 1000.0},
                              {"bytes", summary->bytesWritten}});
    }

private:
    void emitEvent(const char* event, QJsonObject fields)
    {
        fields.insert(QStringLiteral("event"), QLatin1StringView(event));
        const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
        std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
        std::fputc('\n', m_out);
        std::fflush(m_out);
    }

    FILE* m_out;
    MessageLines m_messages;
};

} // namespace

std::unique_ptr<CliReporter> makeJsonReporter(FILE* out, FILE* err)
{
    return std::make_unique<JsonReporter>(out, err);
}

} // namespace corvel
