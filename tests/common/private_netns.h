// Tests that change network state (packet-filter rules, forwarding) run in
// private namespaces and never touch the machine's own.
#pragma once
#include <functional>
#include <string>

#include "run_process.h"

// Moves the calling process into a private mount namespace with fresh
// tmpfs on /tmp and /run (the packet-filter lock lives there). Call it
// while the process has one thread, before anything is opened below /tmp.
// false with the reason when that is not possible (not root).
bool enter_private_mounts(std::string *why);

// Moves the calling process into a new network namespace with its loopback
// up (after enter_private_mounts). false with the reason when it fails.
bool enter_private_network(std::string *why);

// run_forked, the child first entering a new network namespace with its
// loopback up.
process_result run_in_new_netns(const std::function<int()> &body, int timeout_s = 30);
