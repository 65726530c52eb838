#pragma once

#include <QString>

namespace corvel {

// A logind "sleep:idle" inhibitor, held between paired hold() and release() calls: the machine
// does not suspend while encodes run. Without a system bus or logind it silently holds
// nothing. Main thread only.
class SleepInhibitor final
{
public:
    SleepInhibitor() = default;
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    // `who` names the program to logind, `why` is shown by `systemd-inhibit --list`.
    void hold(const QString& who, const QString& why);
    void release();
    bool isHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1; // from logind; closing it releases the inhibitor
    int m_depth = 0;
};

} // namespace corvel
