// Debian's gophernicus on loopback, inetd-style behind socat, serving a
// world-readable temporary copy of a test gopherhole.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>

namespace tolmtest {

class Gophernicus {
  public:
    Gophernicus() = default;
    // Kills the socat process group and removes the copied gopherhole.
    ~Gophernicus();
    Gophernicus(const Gophernicus&) = delete;
    Gophernicus& operator=(const Gophernicus&) = delete;

    // Copies source_dir into a fresh temporary root, lets prepare(root) add
    // files to it, makes everything world-readable, starts the server and
    // waits until its port accepts. Fails (never skips) when gophernicus or
    // socat is missing.
    ::testing::AssertionResult start(const std::string& source_dir,
                                     void (*prepare)(const std::string& root) = nullptr);

    uint16_t port() const { return port_; }
    const std::string& root() const { return root_; }
    // "gopher://127.0.0.1:PORT" followed by path.
    std::string url(const std::string& path = "") const;
    // The server's answer to a request line, read with a plain socket to
    // the end of the stream.
    std::string fetch(const std::string& selector) const;

  private:
    pid_t pgid_ = -1;
    uint16_t port_ = 0;
    std::string root_;
};

} // namespace tolmtest
