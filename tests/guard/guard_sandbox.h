// The world a guard test runs in: a mount namespace of the test process with
// a fresh /tmp (marker and session files) and a fresh /dev whose /dev/log
// socket collects the system log lines of the programs the test starts.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Enters the namespace; false with a reason when that is not possible.
bool sandbox_enter(std::string *error);

// System log lines received so far from process pid, oldest first.
std::vector<std::string> sandbox_log_lines(pid_t pid);
