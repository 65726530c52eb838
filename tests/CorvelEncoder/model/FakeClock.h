#pragma once

#include "CorvelEncoder/model/ModelClock.h"

#include <QCoreApplication>
#include <QList>

#include <algorithm>

namespace corvel::testing {

// Delivers the reports a fake just made (they arrive through the event loop).
inline void deliver()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// A clock that moves only when the test advances it. Timers fire in the order they fall due,
// each with the clock at its moment, and what they post through the event loop is delivered
// before the next one fires.
class FakeClock final : public ModelClock
{
public:
    QDateTime now() const override { return m_start.addMSecs(m_elapsed); }

    std::unique_ptr<ModelTimer> timer(int intervalMs, bool singleShot,
                                      std::function<void()> fire) override
    {
        return std::make_unique<Timer>(*this, intervalMs, singleShot, std::move(fire));
    }

    // Moves the clock on by `msecs`, firing every timer due on the way.
    void advance(qint64 msecs)
    {
        const qint64 end = m_elapsed + msecs;
        deliver();
        while (Timer* next = nextDue(end)) {
            m_elapsed = next->due;
            if (next->singleShot)
                next->active = false;
            else
                next->due += std::max(next->interval, 1);
            next->fire();
            deliver();
        }
        m_elapsed = end;
    }

    qint64 elapsed() const { return m_elapsed; }

private:
    struct Timer final : ModelTimer
    {
        Timer(FakeClock& clock, int interval, bool singleShot, std::function<void()> fire)
            : clock(clock), interval(interval), singleShot(singleShot), fire(std::move(fire))
        {
            clock.m_timers.append(this);
        }
        ~Timer() override { clock.m_timers.removeAll(this); }
        void start() override
        {
            active = true;
            due = clock.m_elapsed + interval;
        }
        void stop() override { active = false; }
        bool isActive() const override { return active; }

        FakeClock& clock;
        const int interval;
        const bool singleShot;
        const std::function<void()> fire;
        bool active = false;
        qint64 due = 0;
    };

    Timer* nextDue(qint64 end) const
    {
        Timer* next = nullptr;
        for (Timer* timer : m_timers) {
            if (timer->active && timer->due <= end && (!next || timer->due < next->due))
                next = timer;
        }
        return next;
    }

    QDateTime m_start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    qint64 m_elapsed = 0;
    QList<Timer*> m_timers;
};

} // namespace corvel::testing
