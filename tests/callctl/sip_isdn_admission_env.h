// The process-wide pieces of the SIP-to-ISDN admission test, kept in a
// unit of their own: the ISDN library's headers and the SIP stack's do not
// mix.
#pragma once
#include <functional>
#include <string>

// The application with its default call configuration, the timer list, the
// ISDN library on ports 1 (up when asked) and 7 (never up) in the groups
// a(1) and down(7), and a pool of four call objects.
void s2i_start_library();
// A configuration of module (the name configman_create takes) read from
// text; null when it does not load.
struct cm;
cm *s2i_config(const char *module, const std::string &text);
// Runs fn with global_lock held, as the SIP stack's thread does.
void s2i_locked(const std::function<void()> &fn);
