// Collects what the system-command runner logs: each command ("|%s|" at
// debug level 5) and, apart, every other debug line, with every module's
// debug level at 9.
#pragma once
#include <string>
#include <vector>

struct command_log {
    std::vector<std::string> commands;
    std::vector<std::string> lines;
};
extern command_log captured;

// Installs the collector and empties it.
void capture_commands();
// Removes the collector.
void stop_capturing_commands();
