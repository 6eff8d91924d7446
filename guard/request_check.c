#include "request_check.h"

#include "marker_file.h"
#include "reject.h"
#include "session_check.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

static const char multipart_type[] = "multipart/form-data";

/* Scripts that take uploads without a web session. */
static const char *const open_upload_scripts[] = {
    "/app/api/api.php",
    "/app/api/davnOle.php",
    "/app/api/hubdesk.php",
};

/* Maintenance scripts that take uploads while one of their markers is set. */
static const struct {
    const char *script;
    const char *markers[2];
} maintenance_scripts[] = {
    {"/cgi-bin/flash-tool.php", {MARKER_FLASH_MODE, NULL}},
    {"/cgi-bin/update-tool.php", {MARKER_FW_UPDATE, MARKER_RECOVERY}},
};

const char *getenv_or_empty(const char *name)
{
    const char *v = getenv(name);
    return v != NULL ? v : "";
}

static int upload_needs_no_session(const char *script)
{
    size_t i;
    size_t m;

    for (i = 0; i < sizeof(open_upload_scripts) / sizeof(open_upload_scripts[0]); i++)
        if (strcmp(script, open_upload_scripts[i]) == 0)
            return 1;
    for (i = 0; i < sizeof(maintenance_scripts) / sizeof(maintenance_scripts[0]); i++) {
        if (strcmp(script, maintenance_scripts[i].script) != 0)
            continue;
        for (m = 0; m < 2 && maintenance_scripts[i].markers[m] != NULL; m++)
            if (is_root_marker_file(maintenance_scripts[i].markers[m]))
                return 1;
    }
    return 0;
}

int check_request(const struct cgi_request *rq)
{
    if (strcmp(rq->method, "POST") != 0 && strcmp(rq->method, "PUT") != 0)
        return REQUEST_ADMIT;
    if (rq->content_length < 0)
        return REJECT_NO_LENGTH;
    if (strncasecmp(rq->content_type, multipart_type, sizeof(multipart_type) - 1) != 0)
        return rq->content_length > PLAIN_BODY_LIMIT ? REJECT_PLAIN_TOO_LARGE : REQUEST_ADMIT;
    if (rq->content_length > MULTIPART_BODY_LIMIT)
        return REJECT_MULTIPART_TOO_LARGE;
    if (upload_needs_no_session(rq->script_name))
        return REQUEST_ADMIT;
    return check_session(rq->cookie) == 0 ? REQUEST_ADMIT : REJECT_NO_SESSION;
}
