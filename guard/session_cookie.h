/* The PHP session identifier of a request's Cookie header. */
#ifndef GUARD_SESSION_COOKIE_H
#define GUARD_SESSION_COOKIE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest identifier accepted; the buffer holds it and its NUL. */
#define SESSION_ID_MAX 127
#define SESSION_ID_SIZE (SESSION_ID_MAX + 1)

/* Finds the first "PHPSESSID=" cookie and copies its value into id.
 * 0 when it is 1 to 127 characters of A-Z, a-z, 0-9, "," and "-",
 * -1 otherwise (also when there is no such cookie). */
int session_id_from_cookie(const char *cookie, char id[SESSION_ID_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
