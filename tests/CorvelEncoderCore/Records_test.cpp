#include "CorvelEncoderCore/Records.h"

#include "../QtPrinters.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

TEST(Records, SourceNameIsTheLastPathComponent)
{
    struct Row
    {
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {"/Volumes/A/clip.mov", "clip.mov"},
        {"/a/b/README", "README"},
        {"/a/b/", "b"},
        {"/a/b//", "b"},
        {"clip.mov", "clip.mov"},
        {"/", "/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EncodingJob job;
        job.sourcePath = QString::fromUtf8(row.path);
        EXPECT_EQ(job.sourceName(), QString::fromUtf8(row.name));
    }
}

TEST(Records, FrameRateModesCompareByRate)
{
    EXPECT_EQ(FrameRateMode::source(), FrameRateMode::source());
    EXPECT_EQ(FrameRateMode::exact(30), FrameRateMode::exact(30.0));
    EXPECT_NE(FrameRateMode::exact(30), FrameRateMode::exact(29.97));
    EXPECT_NE(FrameRateMode::exact(24), FrameRateMode::source());
    EXPECT_EQ(qHash(FrameRateMode::exact(0.0)), qHash(FrameRateMode::exact(-0.0)));
}

} // namespace
} // namespace corvel
