// Column-limited output of multibyte text: the screen's security boundary.
// Results: print_fitted returns the columns it used; nothing fails.
#pragma once

#include <cstddef>
#include <cwchar>

// True for a character print_fitted drops: non-printable characters and
// the format characters that reorder or hide text (bidi controls,
// zero-width space and word joiner, byte order mark, tags), but not the
// joiners U+200C and U+200D.
[[nodiscard]] bool hidden_char(wchar_t wc);

// True when the LC_CTYPE locale's character set is UTF-8; elsewhere the
// terminal is taken for an 8-bit one, to which bytes 0x80-0x9F are C1
// controls.
[[nodiscard]] bool utf8_locale();

// Writes text to standard output within limit columns: undecodable bytes
// as U+FFFD, non-printable characters dropped (outside UTF-8 every byte
// 0x80-0x9F too), a cut marked with an ellipsis. Returns the columns used
// (never more than limit).
size_t print_fitted(const char* text, size_t limit);
