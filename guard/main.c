/* postwarden: runs in place of the PHP CGI interpreter for every request of
 * the web interface; refuses bodies that are too large or uploads outside a
 * live session, and hands everything else to /usr/bin/php-cgi untouched. */
#include "content_length.h"
#include "guard_log.h"
#include "php_exec.h"
#include "reject.h"
#include "request_check.h"

#include <stdlib.h>

int main(int argc, char **argv)
{
    struct cgi_request rq;
    int verdict;

    rq.method = getenv_or_empty("REQUEST_METHOD");
    rq.content_type = getenv_or_empty("CONTENT_TYPE");
    rq.script_name = getenv_or_empty("SCRIPT_NAME");
    rq.cookie = getenv("HTTP_COOKIE");
    guard_open_log();
    rq.content_length = parse_content_length(getenv("CONTENT_LENGTH"));

    verdict = check_request(&rq);
    if (verdict != REQUEST_ADMIT)
        reject_request((enum rejection)verdict, rq.content_length);
    exec_php_cgi(argc, argv);
    reject_request(REJECT_EXEC_FAILED, rq.content_length);
}
