// Input: a link on the first line; the rest is what the loader returns for any job file it is
// asked for (no second line: the file cannot be read).

#include "CorvelEncoderCore/EnqueueLink.h"
#include "CorvelEncoderCore/SettingsMerging.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace corvel;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype newline = bytes.indexOf('\n');
    const QUrl url(QString::fromUtf8(newline < 0 ? bytes : bytes.left(newline)));
    const std::optional<QByteArray> file =
        newline < 0 ? std::nullopt : std::optional<QByteArray>(bytes.mid(newline + 1));

    const JobFileResult result =
        parseEnqueueURL(url, [&](const QString&) -> std::optional<QByteArray> { return file; });
    if (!result) {
        if (result.error().description().isEmpty())
            std::abort();
        return 0;
    }
    if (result->jobs.isEmpty())
        std::abort();
    for (const ParsedJob& job : result->jobs)
        (void)settingsByMerging(job, JobSettings(), {});
    return 0;
}
