// Fakes shared by the unit tests: a show_status that records instead of
// printing, installed for the life of one object.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "driver/process/state.h"

inline std::vector<std::string>& recorded_status() {
    static std::vector<std::string> messages;
    return messages;
}

// Sees each message as it is recorded, while set.
inline std::function<void(const std::string&)> status_watch;

inline void record_status(const char* format, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    recorded_status().emplace_back(buf);
    if (status_watch) status_watch(buf);
}

class StatusRecorder {
  public:
    StatusRecorder() : saved_(show_status) {
        recorded_status().clear();
        show_status = record_status;
    }
    ~StatusRecorder() {
        show_status = saved_;
        status_watch = nullptr;
    }
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;

    const std::vector<std::string>& messages() const { return recorded_status(); }

  private:
    StatusFn saved_;
};
