#include "cli/CliReporter.h"

#include "CorvelEncoder/JobTexts.h"
#include "CorvelEncoderCore/JsonCoding.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace corvel {

namespace {

void writeLine(FILE* out, const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
    std::fputc('\n', out);
    // Scripts read the lines as they come.
    std::fflush(out);
}

class JsonReporter final : public CliReporter
{
public:
    explicit JsonReporter(FILE* out) : m_out(out) {}

    void added(const EncodingJob& job) override
    {
        emitEvent("added", {{QStringLiteral("job"), toJson(job)}});
    }
    void planned(const EncodingJob&) override {} // "added" already said it all
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
        emitEvent("ready", {{QStringLiteral("id"), uuidString(job.id)},
                            {QStringLiteral("output"), job.outputPath.value_or(QString())},
                            {QStringLiteral("hardware"), job.hardwareEncoder.value_or(false)}});
    }
    void finished(const EncodingJob& job) override
    {
        emitEvent("finished", {{QStringLiteral("id"), uuidString(job.id)},
                               {QStringLiteral("output"), job.outputPath.value_or(QString())}});
    }
    void failed(const EncodingJob& job) override
    {
        emitEvent("failed", {{QStringLiteral("id"), uuidString(job.id)},
                             {QStringLiteral("error"), job.errorMessage.value_or(QString())}});
    }
    void cancelled(const EncodingJob& job) override
    {
        emitEvent("cancelled", {{QStringLiteral("id"), uuidString(job.id)}});
    }
    void log(const QString& text, bool isError) override
    {
        emitEvent("log", {{QStringLiteral("text"), text}, {QStringLiteral("error"), isError}});
    }
    void banner(const QString& text) override
    {
        emitEvent("banner", {{QStringLiteral("text"), text}});
    }

private:
    void emitEvent(const char* event, QJsonObject fields)
    {
        fields.insert(QStringLiteral("event"), QLatin1StringView(event));
        writeLine(m_out, QJsonDocument(fields).toJson(QJsonDocument::Compact));
    }

    FILE* m_out;
};

QString etaText(std::optional<double> eta)
{
    if (!eta || !std::isfinite(*eta) || *eta < 0)
        return QStringLiteral("--:--");
    const qint64 seconds = qint64(std::ceil(*eta));
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString encoderText(const EncodingJob& job)
{
    if (!job.hardwareEncoder)
        return QStringLiteral("Starting");
    return *job.hardwareEncoder ? QStringLiteral("Hardware") : QStringLiteral("Software");
}

int percentOf(const EncodingJob& job)
{
    return int(std::clamp(job.progress, 0.0, 1.0) * 100.0);
}

class TextReporter final : public CliReporter
{
public:
    TextReporter(FILE* out, FILE* err, bool terminal) : m_out(out), m_err(err), m_tty(terminal)
    {
        m_redraw.start();
    }

    void added(const EncodingJob&) override {}
    void planned(const EncodingJob& job) override
    {
        const QString output = QDir(job.settings.outputDirectory).filePath(previewFilename(job));
        line(m_out, job.sourcePath + QStringLiteral(" -> ") + output);
        line(m_out, QStringLiteral("    ") + job.settings.presetName + QStringLiteral("  ·  ") +
                        summaryLine(job));
    }
    void progress(const EncodingJob& job) override
    {
        if (m_tty) {
            m_running.insert(job.id, job);
            if (m_redraw.elapsed() >= 100)
                redraw();
            return;
        }
        // Plain output: one line per tenth, enough to follow in a log file.
        const int tenth = percentOf(job) / 10;
        int& last = m_lastTenth[job.id];
        if (tenth > last) {
            last = tenth;
            line(m_out, QStringLiteral("%1: %2% (%3 left)")
                            .arg(job.sourceName())
                            .arg(percentOf(job))
                            .arg(etaText(job.etaSeconds)));
        }
    }
    void ready(const EncodingJob& job) override
    {
        if (m_tty) {
            m_running.insert(job.id, job);
            redraw();
            return;
        }
        line(m_out,
             QStringLiteral("%1: encoding to %2 (%3)")
                 .arg(job.sourceName(), job.outputPath.value_or(QString()), encoderText(job)));
    }
    void finished(const EncodingJob& job) override
    {
        settle(m_out,
               QStringLiteral("Finished %1 -> %2")
                   .arg(job.sourceName(), job.outputPath.value_or(QString())),
               job.id);
    }
    void failed(const EncodingJob& job) override
    {
        const QString text = QStringLiteral("Failed %1: %2")
                                 .arg(job.sourceName(), job.errorMessage.value_or(QString()));
        settle(m_out, text, job.id);
        // The queue logs the same words as an error right after.
        m_lastError = text;
    }
    void cancelled(const EncodingJob& job) override
    {
        settle(m_out, QStringLiteral("Cancelled ") + job.sourceName(), job.id);
    }
    void log(const QString& text, bool isError) override
    {
        // The outcome lines above already say what the queue does; errors are worth repeating.
        if (isError)
            error(text);
    }
    void banner(const QString& text) override { error(text); }
    void done() override
    {
        if (m_tty)
            clearBlock();
    }

private:
    void line(FILE* out, const QString& text) { writeLine(out, text.toUtf8()); }

    // A failed job file is both logged and shown in the banner: say it once.
    void error(const QString& text)
    {
        if (text == m_lastError)
            return;
        m_lastError = text;
        settle(m_err, text, {});
    }

    // Prints a permanent line above the live block.
    void settle(FILE* out, const QString& text, const QUuid& finishedID)
    {
        if (!m_tty) {
            line(out, text);
            return;
        }
        m_running.remove(finishedID);
        clearBlock();
        line(out, text);
        drawBlock();
    }

    void redraw()
    {
        clearBlock();
        drawBlock();
        m_redraw.restart();
    }

    void clearBlock()
    {
        if (m_drawn > 0) {
            std::fprintf(m_out, "\x1b[%dA\x1b[J", m_drawn);
            std::fflush(m_out);
        }
        m_drawn = 0;
    }

    void drawBlock()
    {
        for (const EncodingJob& job : std::as_const(m_running)) {
            line(m_out, progressLine(job, 80));
            ++m_drawn;
        }
    }

    FILE* m_out;
    FILE* m_err;
    bool m_tty;
    QHash<QUuid, int> m_lastTenth;
    QHash<QUuid, EncodingJob> m_running;
    int m_drawn = 0;
    QElapsedTimer m_redraw;
    QString m_lastError;
};

} // namespace

QString progressLine(const EncodingJob& job, int width)
{
    constexpr int kBar = 24;
    const int filled = int(std::clamp(job.progress, 0.0, 1.0) * kBar);
    const QString bar = QString(filled, u'#') + QString(kBar - filled, u'-');
    const QString tail = QStringLiteral(" [%1] %2% %3 left  %4")
                             .arg(bar)
                             .arg(percentOf(job), 3)
                             .arg(etaText(job.etaSeconds), 7)
                             .arg(encoderText(job));
    const int nameWidth = std::max(8, width - int(tail.size()) - 1);
    QString name = job.sourceName();
    if (name.size() > nameWidth)
        name = name.left(nameWidth - 1) + u'…';
    return name.leftJustified(nameWidth) + tail;
}

std::unique_ptr<CliReporter> makeJsonReporter(FILE* out)
{
    return std::make_unique<JsonReporter>(out);
}

std::unique_ptr<CliReporter> makeTextReporter(FILE* out, FILE* err, bool terminal)
{
    return std::make_unique<TextReporter>(out, err, terminal);
}

} // namespace corvel
