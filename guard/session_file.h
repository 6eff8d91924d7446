/* Reading a PHP session file of the files handler. */
#ifndef GUARD_SESSION_FILE_H
#define GUARD_SESSION_FILE_H

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Directory and name prefix of the session files. */
#define SESSION_FILE_PREFIX "/tmp/sess_"

/* Reads up to size bytes of /tmp/sess_<id>, which must be a regular file
 * reached without a symbolic link. A file that is empty at the first read
 * (the interpreter may be rewriting it) is read once more after 100 ms.
 * Returns the byte count (>= 1) or -1. */
ssize_t read_session_file(const char *id, char *buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
