// What a test lays over the system for itself and every program it starts
// afterwards: a network of its own, system files of its own (Linux only).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tolmtest {

// Moves the calling thread into a network namespace of its own, loopback
// up and also carrying address (IPv4) when given: nothing sent there can
// leave the machine. Returns why not, or "" once there.
std::string enter_own_network(const char* address = nullptr);

// Files laid over the system's (path -> content, each path existing) in
// this test process's mount namespace while the object lives; laid() is
// false where there is no namespace of its own (has_private_tmp()).
class SystemFiles {
  public:
    explicit SystemFiles(const std::map<std::string, std::string>& files);
    ~SystemFiles();
    SystemFiles(const SystemFiles&) = delete;
    SystemFiles& operator=(const SystemFiles&) = delete;
    bool laid() const { return laid_; }

  private:
    std::vector<std::string> sources_, mounted_; // the files laid, where they lie
    bool laid_ = false;
};

} // namespace tolmtest
