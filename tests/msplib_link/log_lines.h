// Collects the debug lines of the MSP module (any thread) while it lives,
// each as "<call tag>|<text>".
#pragma once
#include "debug_lines.h"

class log_lines : public debug_lines {
public:
    log_lines() : debug_lines({MSP}, true) {}
    // Lines that contain the text.
    bool has(const std::string &text) const { return count(text) > 0; }
};
