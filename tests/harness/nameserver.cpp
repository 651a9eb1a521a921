#include "nameserver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif

namespace tolmtest {

SilentNameServer::SilentNameServer() {
#ifdef __linux__
    if (!can_lay_system_files()) return;
    // A thread of its own enters the new namespace, so that the test's
    // other threads (the fake server) stay where they are; the socket and
    // the namespace's descriptor outlive it.
    std::thread([this] {
        if (unshare(CLONE_NEWNET) != 0) return;
        // Loopback starts down in a new namespace.
        int ctl = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq ifr{};
        strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        bool up = ctl >= 0 && ioctl(ctl, SIOCGIFFLAGS, &ifr) == 0 &&
                  (ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP),
                   ioctl(ctl, SIOCSIFFLAGS, &ifr) == 0);
        if (ctl >= 0) close(ctl);
        if (!up) return;
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(53);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            if (fd >= 0) close(fd);
            return;
        }
        socket_ = fd;
        net_ns_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    }).join();
#endif
}

SilentNameServer::~SilentNameServer() {
    if (socket_ >= 0) close(socket_);
    if (net_ns_ >= 0) close(net_ns_);
}

std::map<std::string, std::string> SilentNameServer::resolver_files() {
    // One try with a long wait: the lookup hangs for as long as any test.
    return {{"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n"},
            {"/etc/nsswitch.conf", "hosts: files dns\n"},
            {"/etc/hosts", "127.0.0.1 localhost\n"}};
}

bool SilentNameServer::wait_for_query(Millis timeout) {
    if (!valid()) return false;
    pollfd p{socket_, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

} // namespace tolmtest
