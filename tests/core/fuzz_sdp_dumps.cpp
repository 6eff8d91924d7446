// A far end's SDP text through the SIP stack's SDP parser into the debug
// dumps of the remote SDP (fixed buffer) and of both sessions, with every
// debug line formatted and dropped.
#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_object.h"
#include "debug_dumps.h"
#include "log.h"
#include "pools.h"
#include "sdp_guard.h"

namespace {

call_object *call;

void drop_line(int, int, const char *, int, const char *, const char *, const char *format, va_list ap)
{
    char line[4096];
    vsnprintf(line, sizeof line, format, ap);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    application_create();
    call = new call_object();
    init_call_object(call, 0);
    log_levels_debug_enabled = 1;
    for (int m = 0; m < MODULECOUNT; m++)
        log_set_loglevel_debug(log_levels_debug, m, 9);
    log_set_log_handler_debug(drop_line);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The SIP stacks refuse SDP whose media lines the installed parser
    // cannot finish; the dumps are what is tested.
    if (!sdp_media_lines_parsable((const char *)data, size))
        return 0;
    su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
    if (!home)
        return 0;
    // The parser reads exactly size bytes.
    sdp_parser_t *parser = sdp_parse(home, (const char *)data, (issize_t)size, 0);
    if (sdp_session_t *sdp = sdp_session(parser)) {
        dbg_log_remote_sdp(call, sdp);
        dbg_sip_analyze_sdp(sdp, sdp);
        dbg_sip_analyze_sdp(nullptr, sdp);
    }
    sdp_parser_free(parser);
    su_home_unref(home);
    return 0;
}
