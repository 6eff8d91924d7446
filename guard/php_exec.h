/* Handing an admitted request to the PHP CGI interpreter. */
#ifndef GUARD_PHP_EXEC_H
#define GUARD_PHP_EXEC_H

#ifdef __cplusplus
extern "C" {
#endif

#define PHP_CGI_PATH "/usr/bin/php-cgi"

/* Replaces the process with /usr/bin/php-cgi -d memory_limit=24M followed by
 * the guard's own arguments from argv[1] on, environment unchanged. The
 * system log is closed for the exec and opened again if it fails. Returns
 * -1 only when the argument list cannot be built or the exec fails. */
int exec_php_cgi(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
