// Any bytes must give ParsedJobs or a JobFileError: no crash, hang or runaway memory.

#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/SettingsMerging.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace corvel;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool looksLikeJob = looksLikeJobData(bytes);
    const JobFileResult result = parseJobData(bytes, QStringLiteral("/fuzz/base"));
    if (!result) {
        if (result.error().description().isEmpty())
            std::abort();
        return 0;
    }
    // A successful parse implies a recognisable job and at least one job.
    if (!looksLikeJob || result->jobs.isEmpty())
        std::abort();
    for (const ParsedJob& job : result->jobs) {
        if (!job.sourcePath.isEmpty() && !job.sourcePath.startsWith(u'/'))
            std::abort();
        (void)settingsByMerging(job, JobSettings(), {});
    }
    return 0;
}
