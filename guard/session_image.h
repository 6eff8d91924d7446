/* Reader of the PHP session serialisation ("php" handler): finds the
 * activity time entry in the first bytes of a session file. Read only, and
 * every access stays inside [image, image + len). */
#ifndef GUARD_SESSION_IMAGE_H
#define GUARD_SESSION_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of a session file that are looked at. */
#define SESSION_IMAGE_SIZE 4096
/* Nesting depth at which a value is no longer skipped. */
#define SESSION_MAX_DEPTH 17
/* Name of the entry that holds the time of the session's last activity. */
#define SESSION_TIME_NAME "quilari_time"

/* Optional "-" and decimal digits inside [start, end). Returns the value and
 * sets *endp behind the digits; *endp is NULL when there is no digit or the
 * value does not fit in 64 signed bits. */
int64_t parse_int(const char *start, const char *end, const char **endp);

/* Returns the position behind the one serialised value at p, or NULL when
 * p is NULL, depth >= SESSION_MAX_DEPTH or the value is malformed or runs
 * past end. */
const char *skip_serialized_value(const char *p, const char *end, int depth);

/* Scans the entries of a session image for the time entry. 0 with *t set,
 * -1 when the entry is missing, is not an integer, or an entry before it
 * cannot be skipped. */
int session_image_time(const char *image, size_t len, int64_t *t);

#ifdef __cplusplus
}
#endif

#endif
