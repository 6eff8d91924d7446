/* The guard's system log. */
#ifndef GUARD_LOG_H
#define GUARD_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the system log: ident "postwarden", process id in each line,
 * facility LOG_AUTHPRIV. */
void guard_open_log(void);

#ifdef __cplusplus
}
#endif

#endif
