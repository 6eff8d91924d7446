#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "application.h"
#include "experimental_options.h"
#include "gsm_settings.h"
#include "log.h"

namespace {

std::vector<std::string> msgs;
void rec_debug(int, int, const char *, int, const char *, const char *, const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    msgs.push_back(t);
    free(t);
}

class ExperimentalOptions : public ::testing::Test {
protected:
    experimental_options *eo = nullptr;
    void SetUp() override
    {
        application_create();
        PAYLOAD_TYPE_DYNAMIC_RFC2833 = 101;
        PAYLOAD_TYPE_DYNAMIC_CLEARMODE = 97;
        msgs.clear();
        log_levels_debug[TARN] = 9;
        log_set_log_handler_debug(rec_debug);
    }
    void TearDown() override { log_set_log_handler_debug(nullptr); }
    void parse(const char *t)
    {
        msgs.clear();
        _parse_experimental_options(t);
        eo = gp->experimental_options;
    }
};

TEST_F(ExperimentalOptions, PiecesNamesAndMessages)
{
    parse("nco=0 , latency = 20 ,nonsense, unknown=4,Latency=7");
    EXPECT_EQ(eo->eo_number_of_call_objects, 1);
    EXPECT_EQ(eo->eo_latency, 20) << "names compare with case";
    EXPECT_EQ(msgs, (std::vector<std::string>{"setting nco (number_of_call_objects) to 1!",
                                              "setting msp latency to 20!"}));
}

TEST_F(ExperimentalOptions, Clamps)
{
    struct {
        const char *text;
        int experimental_options::*member;
        int want;
    } cases[] = {
        {"syscall_max_threads=99", &experimental_options::eo_syscall_max_threads, 16},
        {"syscall_max_threads=0", &experimental_options::eo_syscall_max_threads, 1},
        {"gsm_status_interval=5", &experimental_options::eo_gsm_status_interval, 30},
        {"gsm_status_interval=900", &experimental_options::eo_gsm_status_interval, 600},
        {"registrar_check_timeout=5000", &experimental_options::eo_registrar_check_timeout, 2000},
        {"registrar_check_timeout=1", &experimental_options::eo_registrar_check_timeout, 10},
        {"nco=300", &experimental_options::eo_number_of_call_objects, 256},
        {"syscall_timeout=-4", &experimental_options::eo_syscall_timeout, 1},
        {"gsm_clcc_fallback=7", &experimental_options::eo_gsm_clcc_fallback, 1},
        {"latency=abc", &experimental_options::eo_latency, 0},
        {"tls_verify_policy=in|SUBJECTS_OUT", &experimental_options::eo_tls_verify_policy, 11},
    };
    for (auto &c : cases) {
        parse(c.text);
        EXPECT_EQ(eo->*c.member, c.want) << c.text;
    }
}

TEST_F(ExperimentalOptions, CompoundValues)
{
    parse("sip_inbound_limit=50");
    EXPECT_EQ(eo->eo_sip_inbound_limit_max_calls_per_timeframe, 0);
    EXPECT_EQ(eo->eo_sip_inbound_limit_timeframe_length, 0);
    parse("sip_inbound_limit=50:10");
    EXPECT_EQ(eo->eo_sip_inbound_limit_max_calls_per_timeframe, 30);
    EXPECT_EQ(eo->eo_sip_inbound_limit_timeframe_length, 1000);
    parse("memory_watchdog=70");
    EXPECT_EQ(eo->eo_options_memory_watchdog_graceful_restart_threshold, 70);
    EXPECT_EQ(eo->eo_options_memory_watchdog_reject_calls_threshold, 0);
    EXPECT_EQ(eo->eo_options_memory_watchdog_instant_restart_threshold, 0);
    parse("memory_watchdog=1:2:3");
    EXPECT_EQ(eo->eo_options_memory_watchdog_instant_restart_threshold, 3);
    parse("dlo=123456789012345678");
    EXPECT_STREQ(eo->eo_loglevel_override, "12345678901234");
}

TEST_F(ExperimentalOptions, PayloadTypes)
{
    parse("pt_rfc2833=101,pt_clearmode=101");
    EXPECT_EQ(PAYLOAD_TYPE_DYNAMIC_CLEARMODE, 97);
    EXPECT_EQ(PAYLOAD_TYPE_DYNAMIC_RFC2833, 101);
    parse("pt_rfc2833=130,pt_clearmode=96");
    EXPECT_EQ(PAYLOAD_TYPE_DYNAMIC_RFC2833, 101) << "out of range is ignored";
    EXPECT_EQ(PAYLOAD_TYPE_DYNAMIC_CLEARMODE, 96);
}

TEST_F(ExperimentalOptions, ReloadResetsOnlyDefaultsAndKeepsOldTexts)
{
    parse("syscall_mode=3,hang_on_alert=1,dns_override=a.example=192.0.2.1,gsm_debug_ports=1|2");
    const char *old_override = eo->eo_dns_override;
    const char *old_ports = eo->eo_gsm_debug_ports;
    EXPECT_EQ(eo->eo_syscall_mode, 3);
    parse("");
    EXPECT_EQ(eo->eo_syscall_mode, 6);
    EXPECT_EQ(eo->eo_hang_on_alert, 1) << "members without a default keep their value";
    EXPECT_STREQ(eo->eo_gsm_debug_ports, "");
    parse("dns_override=b.example");
    // A reader that fetched the earlier texts can still use them.
    EXPECT_STREQ(old_override, "a.example=192.0.2.1");
    EXPECT_STREQ(old_ports, "1|2");
    EXPECT_STREQ(eo->eo_dns_override, "b.example");
    EXPECT_NE(std::find(msgs.begin(), msgs.end(), "setting dns_override |b.example|!"), msgs.end());
}

TEST_F(ExperimentalOptions, LibrarySettings)
{
    parse("gsm_cbm_enable=1,diversion_type=2,gsm_wait_for_cds=11,lte_read_method=0,grp=4");
    EXPECT_EQ(eo->eo_gsm_pdu_mode, 1);
    EXPECT_EQ(global_gsm_pdu_mode, 1);
    EXPECT_EQ(global_gsm_cbm_enable, 1);
    EXPECT_EQ(eo_lib.misdn_diversion_type, 2);
    EXPECT_EQ(global_gsm_read_method, 0);
    EXPECT_EQ(gsm_restore_profile, 4);
    int before = global_gsm_wait_for_cds_time;
    EXPECT_EQ(eo->eo_gsm_wait_for_cds, 11);
    EXPECT_EQ(global_gsm_wait_for_cds_time, before);
    parse("gsm_wait_for_cds=4");
    EXPECT_EQ(global_gsm_wait_for_cds_time, 4);
}

} // namespace
