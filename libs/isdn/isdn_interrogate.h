// The network's answers to interrogations of call diversion made from the
// console: one text line per returned entry, at most ten lines of 255
// characters each, with the number of lines filled. The facility decoding
// of interrogation results appends; the console reads and resets the count.
#pragma once

enum { INTERROGATE_LINES = 10, INTERROGATE_LINE_LEN = 256 };

extern char interrogateDiversionResponseBuf[INTERROGATE_LINES][INTERROGATE_LINE_LEN];
extern char interrogateNumbersResponseBuf[INTERROGATE_LINES][INTERROGATE_LINE_LEN];
extern unsigned char interrogateDiversionResponseCount;
extern unsigned char interrogateNumbersResponseCount;

// Appends one line (cut to 255 characters) to the diversion list, or to the
// numbers list when numbers is set; a full list keeps its ten lines.
void isdn_interrogate_add_line(int numbers, const char *line);
