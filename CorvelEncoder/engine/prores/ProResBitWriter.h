#pragma once

#include <cstdint>
#include <cstring>

namespace corvel {

// Big-endian bit writer over a caller's buffer, gathering 64 bits before each store. Writing
// past the end is refused (overflowed() turns true) rather than done; the caller re-codes.
class ProResBitWriter final
{
public:
    ProResBitWriter(uint8_t* begin, uint8_t* end) : m_begin(begin), m_p(begin), m_end(end) {}

    // n in 0..32, value below 2^n.
    void put(uint32_t value, int n)
    {
        if (n < m_free) {
            m_acc = (m_acc << n) | value;
            m_free -= n;
            return;
        }
        const int rest = n - m_free;
        m_acc = (m_acc << m_free) | (uint64_t(value) >> rest); // m_free is 1..32 here
        store();
        m_free = 64 - rest;
        m_acc = value; // the bits already stored are shifted out before the next store
    }

    // Zero bits up to the next byte; returns the bytes written.
    size_t finish()
    {
        const int used = 64 - m_free;
        if (used > 0) {
            const int bytes = (used + 7) / 8;
            const uint64_t aligned = m_acc << m_free;
            if (m_end - m_p < bytes) {
                m_overflow = true;
            } else {
                for (int i = 0; i < bytes; ++i)
                    m_p[i] = uint8_t(aligned >> (56 - 8 * i));
                m_p += bytes;
            }
        }
        m_free = 64;
        m_acc = 0;
        return size_t(m_p - m_begin);
    }

    bool overflowed() const { return m_overflow; }

private:
    void store()
    {
        if (m_end - m_p < 8) {
            m_overflow = true;
            return;
        }
        const uint64_t be = __builtin_bswap64(m_acc);
        std::memcpy(m_p, &be, 8);
        m_p += 8;
    }

    uint8_t* m_begin;
    uint8_t* m_p;
    uint8_t* m_end;
    uint64_t m_acc = 0;
    int m_free = 64;
    bool m_overflow = false;
};

} // namespace corvel
