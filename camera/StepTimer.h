#pragma once

#include <functional>
#include <memory>

class QTimer;

// What steps a sequence: started when the sequence starts, stopped at its
// end, calling onTick at each step. The service uses a 10 ms Qt timer; tests
// hand in one they tick themselves.
class StepTimer
{
public:
    virtual ~StepTimer() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    std::function<void()> onTick;
};

// A repeating Qt timer of intervalMs.
class QtStepTimer : public StepTimer
{
public:
    explicit QtStepTimer(int intervalMs);
    ~QtStepTimer() override;
    void start() override;
    void stop() override;
    bool isActive() const override;

private:
    std::unique_ptr<QTimer> timer;
};

// Makes the three sequences' timers.
using StepTimerFactory = std::function<std::unique_ptr<StepTimer>()>;
