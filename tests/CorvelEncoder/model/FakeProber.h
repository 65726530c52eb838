#pragma once

#include "CorvelEncoder/model/MediaProber.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>

namespace corvel::testing {

// Answers probes from a table (other paths read as 1080p), through the event loop like the
// real one.
// With `hold` set, probes wait until answer() is called.
class FakeProber final : public MediaProber
{
public:
    void probe(const QString& path, QObject* context, Done done) override
    {
        requested.append(path);
        if (hold) {
            waiting.append({path, {QPointer<QObject>(context), std::move(done)}});
            return;
        }
        deliver(context, std::move(done), infos.value(path, hd()));
    }

    // Answers every held probe of `path` with `result`.
    void answer(const QString& path, const Result& result)
    {
        for (qsizetype i = 0; i < waiting.size();) {
            if (waiting[i].first == path) {
                deliver(waiting[i].second.first, waiting[i].second.second, result);
                waiting.remove(i);
            } else {
                ++i;
            }
        }
    }

    static SourceInfo hd(double fps = 25)
    {
        return SourceInfo{1920, 1080, fps, 10, true, false, QStringLiteral("H.264")};
    }

    QHash<QString, SourceInfo> infos;
    QStringList requested;
    bool hold = false;

private:
    static void deliver(QObject* context, Done done, const Result& result)
    {
        if (context)
            QMetaObject::invokeMethod(
                context, [done, result] { done(result); }, Qt::QueuedConnection);
    }

    QList<std::pair<QString, std::pair<QPointer<QObject>, Done>>> waiting;
};

} // namespace corvel::testing
