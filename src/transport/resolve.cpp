#include "transport/resolve.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "driver/process/alloc.h"
#include "driver/process/signals.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"

namespace {

// One entry as it crosses the pipe from the resolver child.
struct Entry {
    int32_t family;
    int32_t socktype;
    int32_t protocol;
    uint32_t addrlen;
    sockaddr_storage addr;
};

// The entry for a, or false when its address is larger than an Entry holds.
bool entry_of(const addrinfo& a, Entry* e) {
    if (a.ai_addrlen > sizeof(sockaddr_storage)) return false;
    *e = {a.ai_family, a.ai_socktype, a.ai_protocol, a.ai_addrlen, {}};
    memcpy(&e->addr, a.ai_addr, a.ai_addrlen);
    return true;
}

// Appends a copy of e at tail, the last link of a list, and moves tail on.
void append_entry(addrinfo**& tail, const Entry& e) {
    // The address lives in the same block as its addrinfo.
    auto* block = static_cast<char*>(alloc_or_die(sizeof(addrinfo) + sizeof(sockaddr_storage)));
    auto* ai = reinterpret_cast<addrinfo*>(block);
    memset(ai, 0, sizeof *ai);
    ai->ai_family = e.family;
    ai->ai_socktype = e.socktype;
    ai->ai_protocol = e.protocol;
    ai->ai_addrlen = e.addrlen;
    ai->ai_addr = reinterpret_cast<sockaddr*>(block + sizeof(addrinfo));
    memcpy(ai->ai_addr, &e.addr, e.addrlen);
    *tail = ai;
    tail = &ai->ai_next;
}

addrinfo* copy_list(const addrinfo* list) {
    addrinfo* head = nullptr;
    addrinfo** tail = &head;
    Entry e;
    for (const addrinfo* a = list; a; a = a->ai_next)
        if (entry_of(*a, &e)) append_entry(tail, e);
    return head;
}

// 1 when all n bytes came, 0 when the stream ended first, -1 on an error
// (errno set; ECANCELED when the user cancelled the fetch).
int read_exact(int fd, void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = read_fd(fd, p, n);
        if (r <= 0) return r < 0 ? -1 : 0;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return 1;
}

// A port that the C library would read as a number but not as written:
// it takes a sign and leading blanks and wraps past 65535, so
// gopher://host:99999/, ":+105567" and ": 105567" would reach another port.
// A port that begins like a number must be one, all digits and at most
// 65535; any other text is a service name.
bool port_malformed(const char* port) {
    auto first = static_cast<unsigned char>(*port);
    bool numeric = isdigit(first) || first == '+' || first == '-' || isspace(first);
    if (!numeric) return false;
    unsigned long value = 0;
    for (const char* p = port; *p; p++) {
        if (*p < '0' || *p > '9') return true;
        if (value <= 65535) value = value * 10 + static_cast<unsigned long>(*p - '0');
    }
    return value > 65535;
}

// The lookup child while one runs: it may hang far longer than tolm lives,
// so every way out of the process kills it.
pid_t lookup_pid = 0;

[[noreturn]] void resolver_child(int fd, const char* host, const char* port,
                                 const addrinfo* hints) {
    addrinfo* list = nullptr;
    int32_t gai = getaddrinfo(host, port, hints, &list);
    int32_t saved_errno = errno;
    (void)!write(fd, &gai, sizeof gai);
    (void)!write(fd, &saved_errno, sizeof saved_errno);
    Entry e;
    for (const addrinfo* a = gai == 0 ? list : nullptr; a; a = a->ai_next)
        if (entry_of(*a, &e) && write_all(fd, &e, sizeof e) < 0) break;
    // The end of the list; then alive until the parent lets go, so that
    // the parent never kills a process id that has passed to another.
    shutdown(fd, SHUT_WR);
    char b;
    (void)!read(fd, &b, 1);
    _exit(0);
}

// resolve_host with getaddrinfo's result codes.
int lookup(const char* host, const char* port, const addrinfo* hints, addrinfo** out) {
    *out = nullptr;
    if (port_malformed(port)) return EAI_SERVICE;
    addrinfo numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, port, &numeric, &list) == 0) {
        *out = copy_list(list);
        freeaddrinfo(list);
        return 0;
    }

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) < 0) return EAI_SYSTEM;
    pid_t pid = start_child();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return EAI_SYSTEM;
    }
    if (pid == 0) {
        close(fds[0]);
        resolver_child(fds[1], host, port, hints);
    }
    close(fds[1]);
    lookup_pid = pid;
    int32_t gai = EAI_SYSTEM;
    int32_t child_errno = EIO;
    int got = read_exact(fds[0], &gai, sizeof gai);
    if (got > 0) got = read_exact(fds[0], &child_errno, sizeof child_errno);
    if (got > 0) {
        addrinfo** tail = out;
        Entry e;
        while (gai == 0 && (got = read_exact(fds[0], &e, sizeof e)) > 0) {
            if (e.addrlen > sizeof(sockaddr_storage)) break;
            append_entry(tail, e);
        }
    }
    if (got < 0 && errno == ECANCELED) {
        // The user gave up on the fetch: the lookup would only hold on to
        // a process (SIGCHLD being ignored, nobody has to reap it). The
        // child is still there: it waits for fds[0] to close.
        kill_lookup();
        close(fds[0]);
        free_resolved(*out);
        *out = nullptr;
        errno = ECANCELED;
        return EAI_SYSTEM;
    }
    // The child ends by itself once the socket closes.
    lookup_pid = 0;
    close(fds[0]);
    if (gai == 0 && !*out) gai = EAI_NONAME;
    if (gai == EAI_SYSTEM) errno = child_errno;
    return gai;
}

} // namespace

bool resolve_host(const char* host, const char* port, const addrinfo* hints, addrinfo** out) {
    int gai = lookup(host, port, hints, out);
    if (gai == 0) return true;
    if (gai != EAI_SYSTEM || errno != ECANCELED)
        show_status("Can't resolve hostname \"%s\": %s", host, gai_strerror(gai));
    return false;
}

void free_resolved(addrinfo* list) {
    while (list) {
        addrinfo* next = list->ai_next;
        free(list);
        list = next;
    }
}

void kill_lookup() {
    if (lookup_pid > 0 && !in_child) kill(lookup_pid, SIGKILL);
    lookup_pid = 0;
}
