#include "cli/CliReporter.h"

#include "cli/CliMessageLines.h"

#include <QRegularExpression>

#include "CorvelEncoderCore/JobTexts.h"
#include "CorvelEncoderCore/JsonCoding.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace corvel {

namespace {

constexpr int kFallbackWidth = 80;
std::atomic<bool> g_widthChanged{true};

extern "C" void onWindowChange(int)
{
    g_widthChanged = true;
}

int percentOf(const EncodingJob& job)
{
    return int(std::clamp(job.progress, 0.0, 1.0) * 100.0);
}

QString encoderText(const EncodingJob& job)
{
    if (!job.hardwareEncoder)
        return QStringLiteral("starting");
    return *job.hardwareEncoder ? QStringLiteral("hardware") : QStringLiteral("software");
}

QString summaryText(const CliSummary& s)
{
    QStringList counts{QStringLiteral("%1 done").arg(s.finished)};
    if (s.failed > 0)
        counts << QStringLiteral("%1 failed").arg(s.failed);
    if (s.cancelled > 0)
        counts << QStringLiteral("%1 cancelled").arg(s.cancelled);
    if (s.skipped > 0)
        counts << QStringLiteral("%1 skipped").arg(s.skipped);
    if (s.alreadyEncoded > 0)
        counts << QStringLiteral("%1 already encoded").arg(s.alreadyEncoded);
    return QStringLiteral("%1 in %2; %3 written")
        .arg(counts.join(QStringLiteral(", ")), clockText(double(s.elapsedMs) / 1000.0),
             QLocale::c().formattedDataSize(s.bytesWritten, 1, QLocale::DataSizeSIFormat));
}

// A running job and what its speed is measured against.
struct Running
{
    EncodingJob job;
    QElapsedTimer clock;
};

class TextReporter final : public CliReporter
{
public:
    TextReporter(FILE* out, FILE* err, TextStyle style, Verbosity verbosity)
        : m_out(out), m_messages(err), m_style(style), m_verbosity(verbosity)
    {
        m_redraw.start();
        if (m_style.live) {
            struct sigaction action = {};
            action.sa_handler = onWindowChange;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(SIGWINCH, &action, nullptr);
        }
    }

    void added(const EncodingJob& job) override { m_numbers.insert(job.id, m_numbers.size() + 1); }
    void planned(const EncodingJob& job, const QString& output) override
    {
        writeLine(m_out, job.sourcePath + QStringLiteral(" -> ") + output);
        writeLine(m_out, QStringLiteral("    ") + job.settings.presetName +
                             QStringLiteral("  ·  ") + summaryLine(job));
        if (job.sourceInfo)
            writeLine(m_out, QStringLiteral("    source  ") + sourceLine(job));
        if (const auto note = dynamicRangeNote(job))
            writeLine(m_out, QStringLiteral("    ") + *note);
    }
    void ready(const EncodingJob& job) override
    {
        Running& running = m_running[job.id];
        running.job = job;
        running.clock.start();
        if (m_verbosity == Verbosity::quiet)
            return;
        if (m_style.live) {
            drawLive();
            return;
        }
        writeLine(m_out, QStringLiteral("%1: encoding to %2 (%3, %4)")
                             .arg(job.sourceName(), job.outputPath.value_or(QString()),
                                  encoderText(job), ordinal(job)));
    }
    void progress(const EncodingJob& job) override
    {
        const auto it = m_running.find(job.id);
        if (it == m_running.end() || m_verbosity == Verbosity::quiet)
            return;
        it->job = job;
        if (m_style.live) {
            if (m_redraw.elapsed() >= 100)
                drawLive();
            return;
        }
        // Plain output: one line per tenth, enough to follow in a log file.
        const int tenth = percentOf(job) / 10;
        int& last = m_lastTenth[job.id];
        if (tenth > last) {
            last = tenth;
            writeLine(m_out, job.sourceName() + QStringLiteral(": ") + joined(speedParts(*it)));
        }
    }
    void finished(const EncodingJob& job) override
    {
        m_running.remove(job.id);
        if (m_verbosity != Verbosity::quiet)
            settle(m_out, QStringLiteral("Finished %1 -> %2")
                              .arg(job.sourceName(), job.outputPath.value_or(QString())));
    }
    void failed(const EncodingJob& job) override
    {
        m_running.remove(job.id);
        if (m_messages.failure(job))
            settle(m_messages.err(), paint(m_messages.last()));
    }
    void cancelled(const EncodingJob& job) override
    {
        m_running.remove(job.id);
        // Ctrl-C echoes "^C" where a plain terminal's cursor stands; start below it.
        if (std::exchange(m_firstCancel, false) && !m_style.live && ::isatty(m_style.fd) == 1)
            std::fputc('\n', m_out);
        // An interrupted queue of 100,000 jobs is a few lines and a count.
        if (m_verbosity != Verbosity::quiet && ++m_cancelled <= kShownCancelled)
            settle(m_out, QStringLiteral("Cancelled ") + job.sourceName());
    }
    void skipped(const QString& input, const QString& reason) override
    {
        m_messages.isNew(reason);
        settle(m_messages.err(), paint(skippedText(input, reason)));
    }
    void alreadyEncoded(const EncodingJob& job, const QString& output) override
    {
        // Not an error: a rerun is meant to leave these alone.
        if (m_verbosity != Verbosity::quiet)
            settle(
                m_out,
                QStringLiteral("Skipped %1: already encoded as %2").arg(job.sourceName(), output));
    }
    void log(const QString& text, bool isError) override
    {
        // The outcome lines already say what the queue does; errors are worth repeating.
        if ((isError || m_verbosity == Verbosity::verbose) && m_messages.isNew(text))
            settle(m_messages.err(), isError ? paint(text) : text);
    }
    void banner(const QString& text) override
    {
        if (m_messages.isNew(text))
            settle(m_messages.err(), paint(text));
    }
    void done(const std::optional<CliSummary>& summary) override
    {
        clearLive();
        for (const QString& line : m_messages.unshownFailures())
            writeLine(m_messages.err(), paint(line));
        if (m_verbosity != Verbosity::quiet && m_cancelled > kShownCancelled)
            writeLine(m_out,
                      QStringLiteral("Cancelled %1 more")
                          .arg(QLocale(QLocale::English).toString(m_cancelled - kShownCancelled)));
        if (summary && m_verbosity != Verbosity::quiet)
            writeLine(m_out, summaryText(*summary));
    }

private:
    QString paint(const QString& text) const
    {
        return m_style.color ? QStringLiteral("\x1b[31m") + text + QStringLiteral("\x1b[0m") : text;
    }

    QString ordinal(const EncodingJob& job) const
    {
        return QStringLiteral("job %1 of %2").arg(m_numbers.value(job.id)).arg(m_numbers.size());
    }

    // Percent, frames per second, speed as a multiple of real time, time taken, time left.
    // The frame rate and speed are not known until the job has run a moment.
    static QStringList speedParts(const Running& running)
    {
        const EncodingJob& job = running.job;
        const double elapsed = double(running.clock.elapsed()) / 1000.0;
        QString fps;
        QString realtime;
        if (job.sourceInfo && job.sourceInfo->duration > 0 && elapsed > 0.2) {
            const double media = std::clamp(job.progress, 0.0, 1.0) * job.sourceInfo->duration;
            fps = QStringLiteral("%1 fps").arg(media / elapsed * job.sourceInfo->frameRate, 0, 'f',
                                               0);
            realtime = QStringLiteral("%1×").arg(media / elapsed, 0, 'f', 1);
        }
        return {QStringLiteral("%1%").arg(percentOf(job)), fps, realtime,
                clockText(elapsed) + QStringLiteral(" elapsed"),
                clockText(job.etaSeconds) + QStringLiteral(" left")};
    }

    static QString joined(QStringList parts)
    {
        parts.removeAll(QString());
        return parts.join(QStringLiteral(" · "));
    }

    // The status of one running job in at most `room` characters: what matters least goes
    // first (time taken, frame rate, speed), the name is shortened last.
    QString liveSegment(const Running& running, int room) const
    {
        QStringList parts = speedParts(running);
        parts.prepend(running.job.sourceName());
        parts.prepend(ordinal(running.job));
        const auto fits = [&] {
            return joined(parts).size() <= room;
        };
        for (const int drop : {5, 3, 4}) {
            if (!fits())
                parts[drop].clear();
        }
        if (!fits()) {
            const qsizetype keep = parts[1].size() - (joined(parts).size() - room) - 1;
            parts[1] = keep >= 6 ? parts[1].left(keep) + u'…' : QString();
        }
        if (!fits())
            parts[6].clear();
        const QString text = joined(parts);
        return text.size() <= room ? text : text.left(room - 1) + u'…';
    }

    int width()
    {
        if (g_widthChanged.exchange(false)) {
            winsize size = {};
            m_width = ::ioctl(m_style.fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                          ? int(size.ws_col)
                          : kFallbackWidth;
        }
        return m_width;
    }

    // One line, never wider than the terminal: it must not wrap, or \r would leave the
    // wrapped part behind.
    void drawLive()
    {
        const int room = std::max(2, width() - 1);
        const int each = int(room / std::max<qsizetype>(1, m_running.size())) - 3;
        QList<const Running*> byNumber;
        for (const Running& running : std::as_const(m_running))
            byNumber.append(&running);
        std::sort(byNumber.begin(), byNumber.end(), [this](const Running* a, const Running* b) {
            return m_numbers.value(a->job.id) < m_numbers.value(b->job.id);
        });
        QStringList segments;
        for (const Running* running : std::as_const(byNumber))
            segments << liveSegment(*running, std::max(2, each));
        const QString text = escapedControls(segments.join(QStringLiteral(" | ")));
        const qsizetype pad =
            std::max<qsizetype>(0, std::min<qsizetype>(m_drawn, room) - text.size());
        std::fputs(("\r" + text + QString(pad, u' ')).toUtf8().constData(), m_out);
        std::fflush(m_out);
        m_drawn = text.size();
        m_redraw.restart();
    }

    // Blanks the whole row, also what the terminal echoed after the line (a ^C).
    void clearLive()
    {
        if (m_drawn == 0)
            return;
        const QString blank(std::max(1, width() - 1), u' ');
        std::fputs(("\r" + blank + "\r").toUtf8().constData(), m_out);
        std::fflush(m_out);
        m_drawn = 0;
    }

    // A permanent line, above the live one.
    void settle(FILE* out, const QString& text)
    {
        clearLive();
        writeLine(out, text);
        if (m_style.live && !m_running.isEmpty() && m_verbosity != Verbosity::quiet)
            drawLive();
    }

    static constexpr qsizetype kShownCancelled = 5;
    FILE* m_out;
    MessageLines m_messages;
    TextStyle m_style;
    qsizetype m_cancelled = 0;
    Verbosity m_verbosity;
    QHash<QUuid, int> m_numbers;
    QHash<QUuid, int> m_lastTenth;
    QMap<QUuid, Running> m_running;
    qsizetype m_drawn = 0;
    bool m_firstCancel = true;
    int m_width = kFallbackWidth;
    QElapsedTimer m_redraw;
};

} // namespace

QString clockText(std::optional<double> seconds)
{
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
        return QStringLiteral("--:--");
    const qint64 whole = qint64(std::ceil(*seconds));
    if (whole >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(whole / 3600)
            .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

TextStyle textStyleFor(int fd)
{
    const QByteArray term = qgetenv("TERM");
    TextStyle style;
    style.fd = fd;
    style.live = ::isatty(fd) == 1 && term != "dumb";
    style.color = style.live && !qEnvironmentVariableIsSet("NO_COLOR");
    return style;
}

std::unique_ptr<CliReporter> makeTextReporter(FILE* out, FILE* err, TextStyle style,
                                              Verbosity verbosity)
{
    return std::make_unique<TextReporter>(out, err, style, verbosity);
}

} // namespace corvel
