#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_sms.h"
#include "gsm_text.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

int gsm_sms_free(gsm_outgoing_sms *sms)
{
    if (!sms)
        return -1;
    free(sms->msg);
    free(sms->number);
    free(sms->filename);
    free(sms->pdu_block);
    free(sms);
    return 0;
}

int gsm_sms_msg_write(int port, const char *text)
{
    char *ucs2 = libgsm_utf8_to_ucs2(text ? text : "");
    if (!ucs2) {
        gsm_send_raw(port, "INVALIDFORMAT", 10, 1);
        gsm_send_raw(port, "\x1b", 10, 0);
        return 0;
    }
    size_t len = strlen(ucs2);
    GLOG(5, port, "Sending Message: length = %zu, ucs2length = %zu", strlen(text ? text : ""), len);
    _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
    if (!ctl) {
        free(ucs2);
        return 0;
    }
    pthread_mutex_lock(&gsmlib_send_lock[port]);
    for (size_t off = 0; off < len; off += 64) {
        char piece[65];
        size_t n = len - off < 64 ? len - off : 64;
        memcpy(piece, ucs2 + off, n);
        piece[n] = '\0';
        gsm_send_raw(port, piece, 5, 0);
    }
    gsm_send_raw(port, "\x1a", 10, 0);
    pthread_mutex_unlock(&gsmlib_send_lock[port]);
    free(ucs2);
    return 1;
}
