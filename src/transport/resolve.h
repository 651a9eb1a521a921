// Name resolution that an ending signal can interrupt.
// Results: true on success, false after a reported failure.
#pragma once

struct addrinfo;

// getaddrinfo(host, port, hints): true with the list in *out (owned by the
// caller, freed with free_resolved, never with freeaddrinfo); false with
// *out nullptr after reporting "Can't resolve hostname" with
// gai_strerror's text. Numeric addresses are resolved in place; names are
// looked up in a child process, so that the wait for the answer can be cut
// short by a signal or abandoned, unreported and the child killed, when
// the user cancels the fetch. A port that begins with a digit, a sign or a
// blank and is not all digits up to 65535 fails as an unknown service
// (EAI_SERVICE); other text is a service name.
[[nodiscard]] bool resolve_host(const char* host, const char* port, const addrinfo* hints,
                                addrinfo** out);
// Frees a list from resolve_host; nullptr is ignored.
void free_resolved(addrinfo* list);

// Kills the lookup child if one is running; for every way out of the
// process, where it would otherwise live on until its lookup ends.
void kill_lookup();
