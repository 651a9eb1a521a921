#include "isolation.h"

#include "pty_run.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolmtest {

std::string enter_own_network(const char* address) {
    if (unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + strerror(errno);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("socket: ") + strerror(errno);
    // Loopback starts down in a new namespace.
    ifreq ifr = {};
    strcpy(ifr.ifr_name, "lo");
    bool up = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    auto* in = reinterpret_cast<sockaddr_in*>(&ifr.ifr_addr);
    if (address) {
        strcpy(ifr.ifr_name, "lo:1");
        in->sin_family = AF_INET;
        up = up && inet_pton(AF_INET, address, &in->sin_addr) == 1 &&
             ioctl(fd, SIOCSIFADDR, &ifr) == 0 &&
             inet_pton(AF_INET, "255.255.255.255", &in->sin_addr) == 1 &&
             ioctl(fd, SIOCSIFNETMASK, &ifr) == 0;
    }
    std::string why = up ? "" : std::string("ioctl: ") + strerror(errno);
    close(fd);
    return why;
}

SystemFiles::SystemFiles(const std::map<std::string, std::string>& files) {
    // The private /tmp came with a mount namespace that no other process
    // shares: what is mounted here is this test's alone.
    laid_ = has_private_tmp();
    for (auto it = files.begin(); laid_ && it != files.end(); ++it) {
        char source[] = "/tmp/harness-file-XXXXXX";
        int fd = mkstemp(source);
        laid_ = fd >= 0 && fchmod(fd, 0644) == 0 && close(fd) == 0;
        if (!laid_) break;
        sources_.push_back(source);
        std::ofstream(source, std::ios::binary) << it->second;
        laid_ = mount(source, it->first.c_str(), nullptr, MS_BIND, nullptr) == 0;
        if (laid_) mounted_.push_back(it->first);
    }
}

SystemFiles::~SystemFiles() {
    for (const std::string& path : mounted_)
        umount2(path.c_str(), MNT_DETACH);
    for (const std::string& source : sources_)
        unlink(source.c_str());
}

} // namespace tolmtest
