// The key decoder, apart from the key loop: bytes in, bindings out.
// Results: the binding a completed key names, nullptr until one is complete.
#pragma once

#include <cstddef>
#include <span>

#include "ui/bindings.h"

// Decodes the keys of a table of bindings, escape sequences included:
// "ESC [" and "ESC O" alike; a byte that continues no key ends the
// sequence and is swallowed. No timeout: a sequence waits for its next byte.
class KeyDecoder {
  public:
    // keys: the bindings to decode, usually key_table (ui/keys.h); borrowed
    // for the decoder's life.
    explicit KeyDecoder(std::span<const KeyBinding> keys) : keys_(keys) {}
    // The binding (in the decoder's table) whose key c completes, or
    // nullptr.
    const KeyBinding* feed(unsigned char c);

  private:
    std::span<const KeyBinding> keys_;
    char typed_[max_key_length]; // the sequence so far, from its ESC
    size_t length_ = 0;
};
