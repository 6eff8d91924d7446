// The network's answers to interrogations of call diversion made from the
// console: one text line per returned entry, at most ten lines of 255
// characters each, with the number of lines filled. The facility decoding
// of an interrogation result puts its lines in place of the list's earlier
// ones; the console reads them and resets the count.
#pragma once

enum { INTERROGATE_LINES = 10, INTERROGATE_LINE_LEN = 256 };

extern char interrogateDiversionResponseBuf[INTERROGATE_LINES][INTERROGATE_LINE_LEN];
extern char interrogateNumbersResponseBuf[INTERROGATE_LINES][INTERROGATE_LINE_LEN];
extern unsigned char interrogateDiversionResponseCount;
extern unsigned char interrogateNumbersResponseCount;

// Appends one line (cut to 255 characters) to the diversion list, or to the
// numbers list when numbers is set; a full list keeps its ten lines.
void isdn_interrogate_add_line(int numbers, const char *line);

// Takes the lines of a received Facility element (given by its length
// octet) when it holds the result of an interrogation of the forwardings
// or of the served numbers; 1 when it did, 0 otherwise. A forwarding reads
// "Procedure |cfu| BasicService |0| ServedUserNumber |123| Ton |-1|
// ForwardedToNumber |456| Ton |1|" (one line; "all" for all numbers), a
// number "ServedUserNumber |123| Ton |1|".
int isdn_interrogate_take_result(const unsigned char *ie);
