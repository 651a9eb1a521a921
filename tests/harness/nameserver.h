// A name server that never answers, on loopback in a network namespace of
// its own: a lookup made there hangs, and no query can leave the machine.
#pragma once

#include "pty_run.h"

namespace tolmtest {

class SilentNameServer {
  public:
    // Where namespaces cannot be made, valid() is false.
    SilentNameServer();
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;

    bool valid() const { return net_ns_ >= 0 && socket_ >= 0; }
    // The namespace, for RunOptions::net_ns.
    int net_ns() const { return net_ns_; }
    // The system files that send a run's lookups of names to this server
    // (RunOptions::system_files).
    static std::map<std::string, std::string> resolver_files();
    // Whether a query arrives within timeout.
    bool wait_for_query(Millis timeout = deadline());

  private:
    int net_ns_ = -1;
    int socket_ = -1;
};

} // namespace tolmtest
