// Lines in one read of a line-interface device. A driver hands over whole
// lines, but more than one may arrive in a single read.
#pragma once

typedef void (*lineif_line_fn)(const char *line, void *ctx);

// Cuts the NUL-terminated text of one read at every CR and LF (in place) and
// calls fn for each line that is not empty, in order. A read that holds no
// text at all counts as one empty line. Returns the number of calls.
int lineif_each_line(char *text, lineif_line_fn fn, void *ctx);
