#include "CorvelEncoder/model/ModelClock.h"

#include <QTimer>

namespace corvel {

namespace {

class QtTimer final : public ModelTimer
{
public:
    QtTimer(int intervalMs, bool singleShot, std::function<void()> fire)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(singleShot);
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [fire = std::move(fire)] { fire(); });
    }
    void start() override { m_timer.start(); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

class SystemClock final : public ModelClock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    std::unique_ptr<ModelTimer> timer(int intervalMs, bool singleShot,
                                      std::function<void()> fire) override
    {
        return std::make_unique<QtTimer>(intervalMs, singleShot, std::move(fire));
    }
};

} // namespace

ModelClock& ModelClock::system()
{
    static SystemClock clock;
    return clock;
}

} // namespace corvel
