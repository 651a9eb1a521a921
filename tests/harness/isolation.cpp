#include "isolation.h"

#include "pty_run.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif

namespace tolmtest {

std::string enter_own_network(const char* address) {
#ifdef __linux__
    if (unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + strerror(errno);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("socket: ") + strerror(errno);
    // Loopback starts down in a new namespace.
    ifreq lo = {};
    strcpy(lo.ifr_name, "lo");
    bool up = ioctl(fd, SIOCGIFFLAGS, &lo) == 0;
    lo.ifr_flags = static_cast<short>(lo.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &lo) == 0;
    if (address) {
        ifreq alias = {};
        strcpy(alias.ifr_name, "lo:1");
        auto* a = reinterpret_cast<sockaddr_in*>(&alias.ifr_addr);
        a->sin_family = AF_INET;
        up = up && inet_pton(AF_INET, address, &a->sin_addr) == 1 &&
             ioctl(fd, SIOCSIFADDR, &alias) == 0;
        inet_pton(AF_INET, "255.255.255.255", &a->sin_addr);
        up = up && ioctl(fd, SIOCSIFNETMASK, &alias) == 0;
    }
    std::string why = up ? "" : std::string("ioctl: ") + strerror(errno);
    close(fd);
    return why;
#else
    (void)address;
    return "no network namespaces on this system";
#endif
}

SystemFiles::SystemFiles(const std::map<std::string, std::string>& files) {
#ifdef __linux__
    // The private /tmp came with a mount namespace that no other process
    // shares: what is mounted here is this test's alone.
    if (!has_private_tmp()) return;
    laid_ = true;
    for (const auto& [path, content] : files) {
        char source[] = "/tmp/harness-file-XXXXXX";
        int fd = mkstemp(source);
        if (fd < 0) {
            laid_ = false;
            break;
        }
        close(fd);
        std::ofstream(source, std::ios::binary) << content;
        chmod(source, 0644);
        sources_.push_back(source);
        if (mount(source, path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            laid_ = false;
            break;
        }
        mounted_.push_back(path);
    }
#else
    (void)files;
#endif
}

SystemFiles::~SystemFiles() {
#ifdef __linux__
    for (const std::string& path : mounted_)
        umount2(path.c_str(), MNT_DETACH);
    for (const std::string& source : sources_)
        unlink(source.c_str());
#endif
}

} // namespace tolmtest
