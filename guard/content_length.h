/* The CGI CONTENT_LENGTH of a request. */
#ifndef GUARD_CONTENT_LENGTH_H
#define GUARD_CONTENT_LENGTH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The value of text (NULL: absent) when it is a non-empty run of decimal
 * digits that fits in 32 signed bits; -1 otherwise. */
int32_t parse_content_length(const char *text);

#ifdef __cplusplus
}
#endif

#endif
