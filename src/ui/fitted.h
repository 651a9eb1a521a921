// Column-limited output of multibyte text: the screen's security boundary.
#pragma once

#include <cstddef>

// Writes text to standard output within limit columns: undecodable bytes
// as U+FFFD, non-printable characters dropped, a cut marked with an
// ellipsis. Returns the columns used (never more than limit).
size_t print_fitted(const char* text, size_t limit);
