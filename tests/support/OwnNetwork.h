// A network namespace of the test's own, with only loopback up: every port
// free (UDP 1434 included) and nothing else there to answer or be reached.
#pragma once

#include <string>

namespace testsupport {

// Moves the process into it; must be called while it has one thread only
// (unprivileged, it makes a user namespace first). Returns an error text,
// empty on success.
std::string enterOwnNetwork();

} // namespace testsupport
