#include "php_exec.h"

#include "guard_log.h"

#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

extern char **environ;

static const char *const php_fixed_args[] = {PHP_CGI_PATH, "-d", "memory_limit=24M"};
enum { PHP_FIXED_ARGC = sizeof(php_fixed_args) / sizeof(php_fixed_args[0]) };

int exec_php_cgi(int argc, char **argv)
{
    int own = argc > 1 ? argc - 1 : 0;
    /* Room for at least one own argument and the closing NULL. */
    size_t slots = (size_t)PHP_FIXED_ARGC + (size_t)(own > 0 ? own : 1) + 1;
    char **args = calloc(slots, sizeof(*args));
    int i;

    if (args == NULL)
        return -1;
    for (i = 0; i < PHP_FIXED_ARGC; i++)
        args[i] = (char *)php_fixed_args[i];
    for (i = 0; i < own; i++)
        args[PHP_FIXED_ARGC + i] = argv[1 + i];
    closelog();
    execve(PHP_CGI_PATH, args, environ);
    guard_open_log();
    free(args);
    return -1;
}
