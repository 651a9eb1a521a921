// Name resolution that an ending signal can interrupt.
// Results: getaddrinfo's codes (0 or EAI_*).
#pragma once

struct addrinfo;

// getaddrinfo(host, port, hints) with its result codes: 0 with the list
// in *out (owned by the caller, freed with free_resolved, never with
// freeaddrinfo), or an EAI_* code with *out nullptr. Numeric addresses are
// resolved in place; names are looked up in a child process, so that the
// wait for the answer can be cut short by a signal or abandoned when the
// user cancels the fetch (EAI_SYSTEM, errno ECANCELED; the child is
// killed). A port that begins with a digit, a sign or a blank and is not
// all digits up to 65535 fails with EAI_SERVICE; other text is a service.
[[nodiscard]] int resolve_host(const char* host, const char* port, const addrinfo* hints,
                               addrinfo** out);
// Frees a list from resolve_host; nullptr is ignored.
void free_resolved(addrinfo* list);

// Kills the lookup child if one is running; for every way out of the
// process, where it would otherwise live on until its lookup ends.
void kill_lookup();
