#pragma once

#include <chrono>
#include <functional>

// Where the tick reads the time: the steady clock in the program, a clock the test sets in tests.
using MonotonicTime = std::chrono::steady_clock::time_point;
using MonotonicClock = std::function<MonotonicTime()>;
