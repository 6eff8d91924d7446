// What a status-server client sends, cut into command lines.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

enum { CONSOLE_READ_MAX = 2047 };

// Input state of one client between reads.
struct console_input {
    std::string tail;      // unterminated end of a read that filled the buffer
    bool dropping = false; // a line longer than a whole read is dropped up to its end
};

// `data` is what one read gave; the read had room for CONSOLE_READ_MAX
// bytes less the carried tail, and `full` says it filled that room. The
// carried tail goes in front of the data. Line ends become ";" separators, carriage returns go, "\;" keeps
// a literal ";" in its piece; pieces are trimmed of blanks and empty ones
// skipped. After a full read the text after the last separator is kept in
// in.tail for the next read instead of running as a line of its own.
// Returns the number of lines appended.
size_t console_split_input(console_input &in, const char *data, size_t len, bool full,
                           std::vector<std::string> &lines);
