#pragma once

#include <functional>

namespace TestWait {

// Runs the event loop until the condition holds or the time is up; returns
// the condition's last value. The time-out only keeps a broken test from
// hanging, so callers pass several seconds.
bool until(const std::function<bool()>& condition, int timeoutMs);

} // namespace TestWait
