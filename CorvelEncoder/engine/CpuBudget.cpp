#include "CorvelEncoder/engine/CpuBudget.h"

#include <atomic>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include <sched.h>

namespace corvel {

namespace {

std::atomic<int> g_encodesAtOnce{1};

std::string firstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The tighter of two limits, where 0 means none.
int tighter(int a, int b)
{
    return a > 0 && (b == 0 || a < b) ? a : b;
}

// CPUs, rounded up, of a quota and period in microseconds; 0 for no limit.
int quotaCpus(long long quota, long long period)
{
    if (quota <= 0 || period <= 0)
        return 0;
    return int(std::max<long long>(1, (quota + period - 1) / period));
}

// Tightest limit of `folder` and every group above it, up to `root`, read by `limitIn`.
template <typename LimitIn>
int tightestUpwards(const std::string& root, std::string group, LimitIn limitIn)
{
    int tightest = 0;
    while (true) {
        tightest = tighter(limitIn(root + group), tightest);
        if (group.empty() || group == "/")
            return tightest;
        const std::size_t slash = group.find_last_of('/');
        group = slash == std::string::npos ? std::string() : group.substr(0, slash);
    }
}

int v2Limit(const std::string& folder)
{
    // "max 100000" or "200000 100000"
    std::istringstream in(firstLine(folder + "/cpu.max"));
    std::string quota;
    long long period = 0;
    if (!(in >> quota >> period) || quota == "max")
        return 0;
    return quotaCpus(std::atoll(quota.c_str()), period);
}

int v1Limit(const std::string& folder)
{
    const std::string quota = firstLine(folder + "/cpu.cfs_quota_us");
    const std::string period = firstLine(folder + "/cpu.cfs_period_us");
    if (quota.empty() || period.empty())
        return 0;
    return quotaCpus(std::atoll(quota.c_str()), std::atoll(period.c_str()));
}

int affinityCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace

int cgroupCpuLimit(const std::string& selfCgroup, const std::string& cgroupRoot)
{
    int tightest = 0;
    const auto take = [&](int limit) {
        tightest = tighter(limit, tightest);
    };
    std::istringstream lines(selfCgroup);
    std::string line;
    // Lines are "ID:CONTROLLERS:PATH"; v2's is "0::PATH". Inside a container the path may name
    // a group of the host that the container's mount shows as its root; walking up to the
    // root reads the container's own limit there.
    while (std::getline(lines, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            // A hybrid system mounts the v2 hierarchy apart.
            for (const std::string mount : {"", "/unified"})
                take(tightestUpwards(cgroupRoot + mount, path, v2Limit));
            continue;
        }
        std::istringstream names(controllers);
        std::string name;
        bool cpu = false;
        while (std::getline(names, name, ','))
            cpu = cpu || name == "cpu";
        if (!cpu)
            continue;
        for (const std::string mount : {"/cpu", "/cpu,cpuacct", "/cpuacct,cpu"})
            take(tightestUpwards(cgroupRoot + mount, path, v1Limit));
    }
    return tightest;
}

int availableCpus()
{
    std::ifstream file("/proc/self/cgroup");
    const std::string self((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return std::max(1, tighter(cgroupCpuLimit(self, "/sys/fs/cgroup"), affinityCpus()));
}

void setEncodesAtOnce(int count)
{
    g_encodesAtOnce = std::max(1, count);
}

int threadsPerEncode()
{
    return std::max(1, availableCpus() / g_encodesAtOnce.load());
}

} // namespace corvel
