#include "TestWait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

bool TestWait::until(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        // Wake up now and then to look at the condition; socket and process
        // events are handled as they come in between.
        QEventLoop loop;
        QTimer::singleShot(qMin<qint64>(5, qMax<qint64>(1, deadline.remainingTime())), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
