#include "guard_log.h"

#include <syslog.h>

void guard_open_log(void)
{
    openlog("postwarden", LOG_PID, LOG_AUTHPRIV);
}
