#include "gsm_settings.h"

#include <ctime>
#include <cerrno>

int gsm_restore_profile = 0;
int global_gsm_dtmf_notification_handle = 0;
int global_gsm_extended_reports = 0;
int global_gsm_pdu_mode = 0;
int global_gsm_wait_for_cds_time = 0;
int global_gsm_read_method = 1;
int global_gsm_sim_detect_fix = 0;
int global_gsm_libexpect_accept_cme_error = 0;
int global_gsm_cbm_enable = 0;
std::atomic<int> global_gsm_cbm_remove_trailing_cr{0};
int gsm_sms_delivery_report = 0;

std::atomic<int> global_gsm_cds_waiting[8];
int global_gsm_port_needs_reregister[8];
int global_gsm_port_needs_reregister_timestamp[8];

static std::atomic<int> time_scale_percent{100};

void gsm_set_time_scale(int percent)
{
    if (percent < 1)
        percent = 1;
    if (percent > 100)
        percent = 100;
    time_scale_percent = percent;
}

int gsm_scaled_wait_ms(int ms)
{
    const int floor_ms = ms < 1000 ? ms : 1000;
    int scaled = gsm_scaled_ms(ms);
    return scaled < floor_ms ? floor_ms : scaled;
}

int gsm_scaled_ms(int ms)
{
    if (ms <= 0)
        return ms;
    long long v = (long long)ms * time_scale_percent / 100;
    return v < 1 ? 1 : (int)v;
}

void gsm_pause_ms(int ms)
{
    ms = gsm_scaled_ms(ms);
    if (ms <= 0)
        return;
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
    }
}
