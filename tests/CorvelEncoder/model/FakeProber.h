#pragma once

#include "CorvelEncoder/model/MediaProber.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>

namespace corvel::testing {

// Answers probes from a table (other paths read as 1080p), through the event loop like the
// real one; with `hold` set, probes wait until answer() is called.
class FakeProber final : public MediaProber
{
public:
    void probe(const QString& path, QObject* context, Done done) override
    {
        requested.append(path);
        if (hold)
            waiting.insert(path, {context, std::move(done)});
        else
            deliver(context, std::move(done), infos.value(path, hd()));
    }

    // Answers every held probe of `path` with `result`.
    void answer(const QString& path, const Result& result)
    {
        for (const auto& [context, done] : waiting.values(path))
            deliver(context, done, result);
        waiting.remove(path);
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

    QMultiHash<QString, std::pair<QPointer<QObject>, Done>> waiting;
};

} // namespace corvel::testing
