#include "ui/keydecode.h"

#include <string_view>

namespace {

constexpr unsigned char esc = 27;

} // namespace

const KeyBinding* KeyDecoder::feed(unsigned char c) {
    if (length_ == 0 && c != esc) {
        for (const KeyBinding& b : keys_)
            for (const Key& k : b.keys)
                if (k.bytes && k.bytes[0] == static_cast<char>(c) && !k.bytes[1]) return &b;
        return nullptr;
    }
    // "ESC O" introduces the same sequences as "ESC [".
    if (length_ == 1 && c == 'O') c = '[';
    typed_[length_++] = static_cast<char>(c);
    const std::string_view typed(typed_, length_);
    bool continues = false;
    for (const KeyBinding& b : keys_) {
        for (const Key& k : b.keys) {
            if (!k.bytes) continue;
            if (typed == k.bytes) {
                length_ = 0;
                return &b;
            }
            if (std::string_view(k.bytes).starts_with(typed)) continues = true;
        }
    }
    // A byte that continues no key ends the sequence and is swallowed.
    if (!continues) length_ = 0;
    return nullptr;
}
