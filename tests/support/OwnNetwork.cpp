#include "OwnNetwork.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

std::string enterOwnNetwork()
{
    // Unprivileged (outside the scripts' namespace): a user namespace of its
    // own first, which needs a single-threaded process.
    if (::unshare(CLONE_NEWNET) != 0 && (errno != EPERM || ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0))
        return std::string("unshare: ") + std::strerror(errno);
    // Loopback starts down in a new namespace.
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return std::string("socket: ") + std::strerror(errno);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = ::ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP),
                     ::ioctl(s, SIOCSIFFLAGS, &request) == 0);
    const int error = errno;
    ::close(s);
    return up ? std::string() : std::string("bringing lo up: ") + std::strerror(error);
}

} // namespace testsupport
