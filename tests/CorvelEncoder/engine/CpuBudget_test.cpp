#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/CpuBudget.h"

namespace corvel::test {
namespace {

// A cgroup tree of files under a scratch folder: each row names the files it holds, the
// process's /proc/self/cgroup text, and the CPUs the quotas allow (0: no limit).
TEST(CpuBudget, CgroupQuotaOfTheGroupAndEveryGroupAbove)
{
    const struct
    {
        const char* name;
        std::vector<std::pair<const char*, const char*>> files;
        const char* self;
        int cpus;
    } rows[] = {
        {"v2 without a limit", {{"a/cpu.max", "max 100000"}}, "0::/a\n", 0},
        {"v2 rounded up", {{"a/cpu.max", "150000 100000"}}, "0::/a\n", 2},
        {"v2 group tighter",
         {{"a/cpu.max", "100000 100000"}, {"cpu.max", "400000 100000"}},
         "0::/a\n",
         1},
        {"v2 parent tighter",
         {{"a/cpu.max", "400000 100000"}, {"cpu.max", "100000 100000"}},
         "0::/a\n",
         1},
        {"v2 on a hybrid system", {{"unified/a/cpu.max", "300000 100000"}}, "0::/a\n", 3},
        {"v1 cpu controller",
         {{"cpu,cpuacct/b/cpu.cfs_quota_us", "250000"},
          {"cpu,cpuacct/b/cpu.cfs_period_us", "100000"}},
         "4:memory:/b\n3:cpu,cpuacct:/b\n",
         3},
        {"v1 without a quota",
         {{"cpu/b/cpu.cfs_quota_us", "-1"}, {"cpu/b/cpu.cfs_period_us", "100000"}},
         "3:cpu:/b\n",
         0},
        {"other controllers only", {{"memory/b/cpu.max", "100000 100000"}}, "4:memory:/b\n", 0},
        {"malformed lines", {{"cpu.max", "100000 100000"}}, "garbage\n1\n", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir root;
        for (const auto& [name, text] : row.files)
            ASSERT_TRUE(testing::writeFile(root.filePath(name), QByteArray(text) + '\n'));
        EXPECT_EQ(cgroupCpuLimit(row.self, root.path().toStdString()), row.cpus);
    }
}

} // namespace
} // namespace corvel::test
