/* The guard's decision about one CGI request. */
#ifndef GUARD_REQUEST_CHECK_H
#define GUARD_REQUEST_CHECK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Non-multipart bodies up to this size pass ... */
#define PLAIN_BODY_LIMIT 65536
/* ... multipart form bodies up to this size. */
#define MULTIPART_BODY_LIMIT 20971520

struct cgi_request {
    const char *method;       /* REQUEST_METHOD, "" when missing */
    const char *content_type; /* CONTENT_TYPE, "" when missing */
    const char *script_name;  /* SCRIPT_NAME, "" when missing */
    const char *cookie;       /* HTTP_COOKIE, NULL when missing */
    int32_t content_length;   /* -1 unless CONTENT_LENGTH is valid */
};

/* The verdict: -1 admits, otherwise a value of enum rejection. */
#define REQUEST_ADMIT (-1)

/* Looks at the request (and, for uploads, the marker files and the session
 * file) and returns REQUEST_ADMIT or the rejection. */
int check_request(const struct cgi_request *rq);

/* getenv, with a missing variable read as "". */
const char *getenv_or_empty(const char *name);

#ifdef __cplusplus
}
#endif

#endif
