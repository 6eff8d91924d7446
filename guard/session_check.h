/* Whether a request belongs to a live web session. */
#ifndef GUARD_SESSION_CHECK_H
#define GUARD_SESSION_CHECK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A session stays live this long after its last activity ... */
#define SESSION_IDLE_LIMIT 1200
/* ... and a last activity this far in the future is tolerated. */
#define SESSION_CLOCK_SLACK 60

/* 1 when the activity time t counts as live at now, else 0. */
int session_time_is_live(int64_t t, int64_t now);

/* 0 when the Cookie header (NULL: none) names a session file whose activity
 * time is live now; -1 otherwise. */
int check_session(const char *cookie);

#ifdef __cplusplus
}
#endif

#endif
