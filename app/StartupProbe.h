// Benchmarking only: with SQLLOGCLEAN_STARTUP_PROBE set in the environment,
// the program prints "first-shown <ns>" on stdout when its window is first on
// screen (nanoseconds of std::chrono::steady_clock, which is CLOCK_MONOTONIC
// on Linux, so another process can subtract its own reading) and quits.
// Without the variable nothing is watched.
#pragma once

class QWidget;

namespace app {

void reportFirstShowIfAsked(QWidget& window);

} // namespace app
