#pragma once

#include <string>

namespace corvel {

// The CPUs this process may use: those its affinity mask allows (taskset, a batch system's
// binding), further limited by a cgroup CPU quota (a container's or a farm task's limit,
// cgroup v2 cpu.max or v1 cpu.cfs_quota_us / cpu.cfs_period_us) on its own group or any group
// above it. At least 1. Read anew at each call: a task can be moved while it runs.
int availableCpus();

// How many encodes run at once in this process, so each takes its share of the CPUs.
// 1 unless told; values below 1 count as 1.
void setEncodesAtOnce(int count);
// The threads one encode's decoder, encoder or frame pool should run: its share of
// availableCpus(), at least 1.
int threadsPerEncode();

// The quota, in CPUs rounded up, that the cgroup files below `cgroupRoot` (a cgroup v2
// mount, or the folder holding the v1 controllers) set for a process whose /proc/self/cgroup
// text is `selfCgroup`; 0 when nothing limits it. Apart for testing.
int cgroupCpuLimit(const std::string& selfCgroup, const std::string& cgroupRoot);

} // namespace corvel
