// What the daemon's start installs of the media operations and of call
// control's side.
#include <gtest/gtest.h>

#include "media_callctl.h"
#include "media_tdm.h"
#include "media_voice.h"
#include "sm_run.h"

TEST(MediaInstall, CallControlEntriesThatExistAreInstalled)
{
    media_set_callctl_iface(nullptr);
    media_install();
    const media_callctl_iface &i = media_callctl();
    EXPECT_NE(i.call_stop_rtp, nullptr);
    EXPECT_NE(i.call_get_law_setting, nullptr);
    EXPECT_NE(i.call_crypto_update, nullptr);
    EXPECT_NE(i.cb_timer_event, nullptr);
    EXPECT_NE(i.add_sm_task, nullptr);
    EXPECT_NE(i.do_statemachine_run, nullptr);
    EXPECT_NE(i.start_dismantling_timer, nullptr);
    EXPECT_EQ(i.finish_all_calls_by_remote_ip, finish_all_calls_by_remote_ip);
    EXPECT_EQ(i.finish_call_by_remote_ip_and_port, finish_call_by_remote_ip_and_port);
    // parse_analog_callerid, send_mfcr2_tone and cas_passthrough_map come
    // with the analog and CAS calls.
    // parse_dtmf_tune_params, process_dtmf and tonedetect_to_ascii come with
    // call control's DTMF handling.
    // A machine run's tone stop reaches the media operations.
    EXPECT_EQ(callctl_media().call_stop_msp_tone, call_stop_msp_tone);
    // The RTP check timer asks with msp_queue_lock held.
    EXPECT_EQ(callctl_media().call_rtp_stat, call_rtp_stat_held);
}
