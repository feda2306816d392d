#include "StepTimer.h"

#include <QTimer>

QtStepTimer::QtStepTimer(int intervalMs) : timer(std::make_unique<QTimer>())
{
    timer->setInterval(intervalMs);
    QObject::connect(timer.get(), &QTimer::timeout, [this] {
        if (onTick)
            onTick();
    });
}

QtStepTimer::~QtStepTimer() = default;

void QtStepTimer::start()
{
    timer->start();
}

void QtStepTimer::stop()
{
    timer->stop();
}

bool QtStepTimer::isActive() const
{
    return timer->isActive();
}
