// The console listings of the port groups, printed to a memory stream from
// hand-made groups, against a golden text; and the word tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "application.h"
#include "dns_cache.h"
#include "pg_listings.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "run_process.h"
#include "stream_text.h"

namespace {

char *s(const char *t) { return const_cast<char *>(t); }

// One small group per technology, put into the tables for the test's time.
class Listings : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        pg = pg_port_groups();

        int32_t isdn_ports[] = {2, 1};
        std::copy(std::begin(isdn_ports), std::end(isdn_ports), this->isdn_ports);
        isdn.name = s("pbx");
        isdn.ports = this->isdn_ports;
        isdn.port_count = 2;
        isdn.chansel_direction = CHANSEL_DIRECTION_DESCENDING;
        isdn.chansel_method = CHANSEL_ROUNDROBIN;
        isdn.chansel_behaviour = CHANNEL_ANY;
        isdn.complete_dialing_on_pound_or_star = 1;
        isdn.country_code = s("49");
        isdn.city_code = s("30");
        isdn.local_area_code = s("");
        isdn.interdigit_dialing_timeout = 5;
        isdn.interdigit_dialing_timeout_initial = 20;
        isdn.overlap_dialing = 1;
        isdn.qsig = 1;

        analog_ports[0] = {3, &analog, s("301"), s("Desk"), 1, 0};
        analog.name = s("phones");
        analog.port_count = 1;
        analog.port_settings = analog_ports;
        analog.tones = s("de");
        analog.fxo_call_ending_signal = s("busy");
        analog.fxo_cid_detection_mode = s("auto");
        analog.fxo_connect = 1;
        analog.fxo_callerid_detection_timeout = 4000;
        analog.fxo_dialtone_detection_timeout = 3000;
        analog.fxo_portup_voltage = 7;
        analog.fxs_wink_offset = 100;
        analog.fxs_wink_duration = 200;
        analog.chansel_method = CHANSEL_STANDARD;

        cas_ports[0] = {17, &cas, s(""), s("")};
        cas.name = s("trunk");
        cas.port_count = 1;
        cas.port_settings = cas_ports;
        cas.tones = s("us");
        cas.chansel_method = CHANSEL_RANDOM;

        gsm_ports[0] = port_group_gsm_port_setting{};
        gsm_ports[0].port = 1;
        gsm_ports[0].port_group = &gsm;
        gsm_ports[0].pin = s("1234");
        gsm_ports[0].smsc = s("+4917");
        gsm_ports[0].extension = s("100");
        gsm_ports[0].sms_extension = s("sms");
        gsm_ports[0].sms_webhook = s("http://hook");
        gsm_ports[0].sms_webhook_user = s("u");
        gsm_ports[0].sms_webhook_secret = s("topsecret");
        gsm_ports[0].sms_webhook_type = s("json");
        gsm_ports[0].sms_webhook_id = s("7");
        gsm_ports[0].gsmcodec = 0x81;
        gsm_ports[1] = gsm_ports[0];
        gsm_ports[1].port = 2;
        gsm_ports[1].pin = s("");
        gsm_ports[1].sms_webhook_secret = s("");
        gsm_ports[1].gsmcodec = 0;
        gsm.name = s("mobile");
        gsm.port_count = 2;
        gsm.port_settings = gsm_ports;
        gsm.chansel_method = CHANSEL_ROUNDROBIN;

        users[0] = {s("100"), s("auth100"), s("pw"), s("Reception"), nullptr, nullptr, nullptr, nullptr, 0};
        user_list[0] = &users[0];
        enum_domains[0] = s("e164.arpa");
        stun[0] = s("stun.test");
        stun[1] = s("stun2.test");
        sip.pgs_name = s("provider");
        sip.pgs_users = user_list;
        sip.pgs_user_count = 1;
        sip.pgs_sip_proxy = s("proxy.test");
        sip.pgs_sip_proxy_port = 5060;
        sip.pgs_sip_proxy_using_address_resolved = s("10.1.1.1");
        sip.pgs_sip_registrar = s("reg.test");
        sip.pgs_sip_registrar_port = 5070;
        sip.pgs_sip_registrar_using_address_resolved = s("10.1.1.2");
        sip.pgs_sip_domain = s("dom.test");
        sip.pgs_do_register = 1;
        sip.pgs_refresh_interval = 600;
        sip.pgs_refresh_interval_failed = 60;
        sip.pgs_transport = 3;
        sip.pgs_externip = s("");
        sip.pgs_enum_support = 1;
        sip.pgs_enum_search_domains = enum_domains;
        sip.pgs_enum_search_domain_count = 1;
        sip.pgs_stunserver = stun;
        sip.pgs_stunserver_count = 2;
        sip.pgs_register_options = s("");
        sip.pgs_contact_string = s("sip:100@10.0.0.1");
        sip.pgs_callgroup_name = s("cg");
        sip.pgs_callgroup_priority = 2;
        sip.pgs_max_simultaneous_calls = 10;
        sip.pgs_emergency_numbers = s("110,112");

        target = {s("sip1.dom.test"), 10, 60, 5070, 300, nullptr};
        target_list[0] = &target;
        srv.name = s("_sip._udp.dom.test");
        srv.weighted_a_records = target_list;
        srv.number_of_records = 1;
        srv.transport = 1;
    }
    void TearDown() override { show(false); }
    void show(bool on)
    {
        pg->port_groups_isdn[0] = on ? &isdn : nullptr;
        pg->port_groups_isdn_count = on;
        pg->port_groups_analog[0] = on ? &analog : nullptr;
        pg->port_groups_analog_count = on;
        pg->port_groups_cas[0] = on ? &cas : nullptr;
        pg->port_groups_cas_count = on;
        pg->port_groups_gsm[0] = on ? &gsm : nullptr;
        pg->port_groups_gsm_count = on;
        pg->port_groups_sip = on ? &sip : nullptr;
        pg->port_groups_sip_count = on;
    }

    port_groups *pg = nullptr;
    int32_t isdn_ports[2];
    port_group_isdn isdn{};
    port_group_analog_port_setting analog_ports[1];
    port_group_analog analog{};
    port_group_cas_port_setting cas_ports[1];
    port_group_cas cas{};
    port_group_gsm_port_setting gsm_ports[2];
    port_group_gsm gsm{};
    port_group_sip_user users[1];
    port_group_sip_user *user_list[1];
    char *enum_domains[1];
    char *stun[2];
    port_group_sip sip{};
    dns_cache_srv_record_weighted_a_record target;
    dns_cache_srv_record_weighted_a_record *target_list[1];
    dns_cache_srv_record srv{};
};

TEST_F(Listings, NoGroupsPrintNothing)
{
    show(false);
    EXPECT_EQ(stream_text(pg_list_groups), "");
    for (auto f : {pg_list_groups_isdn, pg_list_groups_analog, pg_list_groups_cas, pg_list_groups_gsm,
                   pg_list_groups_sip})
        EXPECT_EQ(stream_text(f), "");
}

TEST_F(Listings, OneGroupOfEachKind)
{
    show(true);
    EXPECT_EQ(stream_text(pg_list_groups), read_text_file(TARN_SOURCE_DIR "/tests/port_groups/golden/lpg_all.txt"));
}

TEST_F(Listings, ConditionalLinesOfTheSipGroup)
{
    show(true);
    std::string all = stream_text(pg_list_groups_sip);
    EXPECT_EQ(all.find("DNSSRV"), std::string::npos) << "only with the group's dns_srv option";

    // SRV records: the proxy's, and the registrar's only when it is another host.
    sip.pgs_cc.dns_srv = 1;
    sip.pgs_srv_record_proxy = &srv;
    sip.pgs_srv_record_registrar = &srv;
    srv.using_record = 0;
    std::string with_srv = stream_text(pg_list_groups_sip);
    EXPECT_NE(with_srv.find("DNSSRV PROXY: active index = 0\nSRV ENTRY |_sip._udp.dom.test|"), std::string::npos)
        << with_srv;
    EXPECT_NE(with_srv.find("DNSSRV REG: active index = 0\n"), std::string::npos);
    sip.pgs_proxy_and_registrar_identical = 1;
    EXPECT_EQ(stream_text(pg_list_groups_sip).find("DNSSRV REG"), std::string::npos);
    sip.pgs_srv_record_proxy = nullptr;
    EXPECT_EQ(stream_text(pg_list_groups_sip).find("DNSSRV"), std::string::npos);

    // Without a call-group name there is no Callgroup line.
    sip.pgs_callgroup_name = s("");
    std::string no_group = stream_text(pg_list_groups_sip);
    EXPECT_EQ(no_group.find("Callgroup"), std::string::npos);
    EXPECT_NE(no_group.find("Call limit                      : 10\n"), std::string::npos);
    sip.pgs_callgroup_name = nullptr;
    EXPECT_EQ(stream_text(pg_list_groups_sip).find("Callgroup"), std::string::npos);
}

TEST(PortGroupWords, Tables)
{
    struct {
        const char *(*f)(int);
        int value;
        const char *want;
    } cases[] = {
        {chansel_direction_to_string, 0, "ascending"},  {chansel_direction_to_string, 1, "descending"},
        {chansel_direction_to_string, 2, "unknown"},    {chansel_direction_to_string, -1, "unknown"},
        {chansel_method_to_string, 0, "unknown"},       {chansel_method_to_string, 1, "standard"},
        {chansel_method_to_string, 2, "roundrobin"},    {chansel_method_to_string, 3, "random"},
        {chansel_method_to_string, 4, "unknown"},       {chansel_behaviour_to_string, 0, "default"},
        {chansel_behaviour_to_string, 1, "exclusive"},  {chansel_behaviour_to_string, 2, "alternative"},
        {chansel_behaviour_to_string, 3, "any"},        {chansel_behaviour_to_string, 4, "unknown"},
        {pg_sip_print_transport, 1, "UDP"},             {pg_sip_print_transport, 2, "TCP"},
        {pg_sip_print_transport, 4, "TLS"},             {pg_sip_print_transport, 3, "UDP/TCP"},
        {pg_sip_print_transport, 7, "UDP/TCP"},         {pg_sip_print_transport, 5, "UDP/TLS"},
        {pg_sip_print_transport, 6, "TCP/TLS"},         {pg_sip_print_transport, 0, "UNKNOWN"},
        {pg_sip_print_transport, 8, "UNKNOWN"},
    };
    for (auto &c : cases)
        EXPECT_STREQ(c.f(c.value), c.want) << c.value;
}

TEST(PortGroupWords, GsmCodecLists)
{
    struct {
        int value;
        const char *want;
    } cases[] = {
        {1, "FR"},
        {2, "EFR"},
        {0x13, "FR,EFR,AMR-HR"},
        {0xFF, "FR,EFR,HR,AMR-FR,AMR-HR,GSM-AMR-WB,UMTS-AMR-NB,UMTS-AMR-WB"},
        {0x100, ""}, // no named bit
        {-1, "FR,EFR,HR,AMR-FR,AMR-HR,GSM-AMR-WB,UMTS-AMR-NB,UMTS-AMR-WB"},
    };
    for (auto &c : cases) {
        char buf[256];
        pg_gsm_codec_list(c.value, buf, sizeof buf);
        EXPECT_STREQ(buf, c.want) << c.value;
    }
    // A short buffer takes whole names only.
    char small[8];
    pg_gsm_codec_list(0xFF, small, sizeof small);
    EXPECT_STREQ(small, "FR,EFR");
}

} // namespace
