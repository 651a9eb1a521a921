// The owner of text that C interfaces hand out or take back. Part of the
// process layer: it includes nothing else of tolm.
#pragma once

#include <cstdlib>
#include <memory>

// Frees with free(): what malloc and strdup return.
struct FreeDeleter {
    void operator()(void* p) const noexcept { free(p); }
};
// Owns a NUL-terminated text (or nullptr) allocated with malloc.
using CText = std::unique_ptr<char, FreeDeleter>;
