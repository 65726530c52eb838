#pragma once

#include <QString>

#include <cstdint>

namespace corvel {

// Notices a source file being rewritten, cut short or grown while it is read. The file is held
// open and its size and modification time are compared at the end with those at the start:
// a stat, never a re-read. Unlinking is not a change, since the open file stays whole.
class SourceWatch final
{
public:
    SourceWatch() = default;
    ~SourceWatch();
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;

    // Opens `path` and records what it is now. A file that cannot be opened is not watched:
    // the reader reports that failure itself.
    void start(const QString& path);
    bool changed() const;

private:
    struct Stamp
    {
        int64_t size = 0;
        int64_t modifiedSeconds = 0;
        int64_t modifiedNanoseconds = 0;

        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    bool stamp(Stamp& out) const;

    int m_fd = -1;
    Stamp m_start;
};

} // namespace corvel
