// Ctrl+C caught for a while instead of ending the process: SIGINT on POSIX
// systems, a console's Ctrl+C and Ctrl+Break on Windows.
#pragma once

#include <functional>
#include <memory>

namespace cli {

// Until the token goes, each Ctrl+C calls `onInterrupt` on a thread of its
// own, one call at a time; the token's release waits for a call under way.
// One at a time in a process.
std::shared_ptr<void> catchProcessInterrupts(std::function<void()> onInterrupt);

} // namespace cli
