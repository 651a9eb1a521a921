#include "transport/crossing.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "driver/process/wait.h"

namespace {

bool (*ask_hook)(const char* question) = nullptr;

// a.b.c.d in host order.
Reach reach_of_ipv4(uint32_t a) {
    uint32_t first = a >> 24;
    // 0.0.0.0 and the rest of 0/8 reach this machine, as 127/8 does.
    if (first == 127 || first == 0) return Reach::loopback;
    if (first == 10 || (a >> 20) == 0xac1 || (a >> 16) == 0xc0a8 || (a >> 16) == 0xa9fe)
        return Reach::local;
    return Reach::global;
}

Reach reach_of_ipv6(const in6_addr& a) {
    const uint8_t* b = a.s6_addr;
    static const uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (memcmp(b, mapped, sizeof mapped) == 0) {
        uint32_t v4 = static_cast<uint32_t>(b[12]) << 24 | static_cast<uint32_t>(b[13]) << 16 |
                      static_cast<uint32_t>(b[14]) << 8 | b[15];
        return reach_of_ipv4(v4);
    }
    static const uint8_t zero[15] = {};
    // :: and ::1.
    if (memcmp(b, zero, sizeof zero) == 0 && b[15] <= 1) return Reach::loopback;
    // fc00::/7 (unique-local) and fe80::/10 (link-local).
    if ((b[0] & 0xfe) == 0xfc || (b[0] == 0xfe && (b[1] & 0xc0) == 0x80)) return Reach::local;
    return Reach::global;
}

// The address as the question shows it: a.b.c.d:port or [v6]:port.
void address_text(const sockaddr* addr, char* out, size_t size) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (addr->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        snprintf(out, size, "%s:%u", host, port);
    } else {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        port = ntohs(in6->sin6_port);
        snprintf(out, size, "[%s]:%u", host, port);
    }
}

// The user's answer, with the window's resizes let through (the question
// is drawn again after one) and keys taken as the answer, not as a cancel
// of the fetch that asks.
bool ask(const char* question) {
    if (!ask_hook) return false;
    sigset_t winch;
    sigset_t old;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    sigprocmask(SIG_UNBLOCK, &winch, &old);
    bool watched = watch_keys(false);
    bool yes = ask_hook(question);
    watch_keys(watched);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return yes;
}

} // namespace

Reach reach_of(const sockaddr* addr) {
    if (addr->sa_family == AF_INET)
        return reach_of_ipv4(ntohl(reinterpret_cast<const sockaddr_in*>(addr)->sin_addr.s_addr));
    if (addr->sa_family == AF_INET6)
        return reach_of_ipv6(reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr);
    return Reach::global;
}

bool crossing_asks(Reach page, Reach target) {
    if (page == Reach::global) return target == Reach::local || target == Reach::loopback;
    if (page == Reach::local) return target == Reach::loopback;
    return false;
}

void set_crossing_hook(bool (*hook)(const char* question)) {
    ask_hook = hook;
}

bool crossing_needs_asking(const Item& item, const sockaddr* target) {
    // The root and a URL typed on a page are the user's own: only a line
    // of a menu is a page's word, and a page never fetched from an address
    // (the bookmarks) names none that asks.
    const Item* page = item.parent;
    if (!page || page == &item || !in_menu_of(item, *page)) return false;
    return crossing_asks(page->origin, reach_of(target));
}

bool crossing_agreed(const Item& item, const sockaddr* target) {
    const Item* page = item.parent;
    char where[INET6_ADDRSTRLEN + 16];
    address_text(target, where, sizeof where);
    char question[512];
    snprintf(question, sizeof question, "Connect to %s (%s), named by a page from %s? (y/N)", where,
             reach_of(target) == Reach::loopback ? "this machine" : "private network",
             page && page->host ? page->host : "");
    return ask(question);
}
