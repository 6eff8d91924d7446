// Collects the log lines of the line libraries (debug, message and CAS
// trace lines) for tests, with every level switched on.
#pragma once
#include <string>
#include <vector>

void log_capture_start();
std::vector<std::string> log_capture_lines();
// True when a captured line contains text.
bool log_capture_has(const std::string &text);
void log_capture_clear();
