// Shared by the dial plan's own files.
#pragma once
#include <regex.h>

// Compiles a pattern as the dial plan writes it: a leading '!' is not part
// of it and sets *not_matching; "*" stands for "(.*)". Extended syntax only.
// 0, or -1 with *re null.
int dialplan_compile_pattern(const char *text, regex_t **re, int *not_matching);
