#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

namespace corvel {

// A timer of the model. Fires on the main thread; starting an active timer starts it over.
class ModelTimer
{
public:
    virtual ~ModelTimer() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Where the model's time comes from: the wall clock and Qt timers, or a clock a test moves.
class ModelClock
{
public:
    virtual ~ModelClock() = default;
    virtual QDateTime now() const = 0;
    // A timer calling `fire` `intervalMs` after each start, once or until stopped.
    virtual std::unique_ptr<ModelTimer> timer(int intervalMs, bool singleShot,
                                              std::function<void()> fire) = 0;

    // The wall clock with precise Qt timers (a coarse one may fire up to 5 % early).
    static ModelClock& system();
};

} // namespace corvel
