#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "application.h"
#include "call_services.h"
#include "call_statistics.h"
#include "cleanup.h"
#include "debug_lines.h"
#include "dialplan.h"
#include "misdn_bchannel.h"
#include "log_backend.h"
#include "nua_stack.h"
#include "pools.h"

namespace {

std::string printed(const call_duration_statistics &cds)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    print_connected_call_duration(f, &cds);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

std::string hms(long s)
{
    char t[32];
    format_time(t, sizeof t, (int)s);
    return t;
}

TEST(CallDuration, RunningAveragesMatchTheLastCalls)
{
    static call_duration_statistics cds; // zero
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> seconds(0, 20000);
    std::vector<long> all;
    for (int call = 0; call < 1005; call++) {
        int d = seconds(rng);
        add_connected_call_duration(&cds, d);
        all.push_back(d);
        auto last = [&](size_t w) {
            size_t n = std::min(w, all.size());
            return std::accumulate(all.end() - (long)n, all.end(), 0L);
        };
        ASSERT_EQ(cds.total_call_duration_10, last(10)) << "after call " << call + 1;
        ASSERT_EQ(cds.total_call_duration_100, last(100)) << "after call " << call + 1;
        ASSERT_EQ(cds.total_call_duration_1000, last(1000)) << "after call " << call + 1;
        ASSERT_EQ(cds.total_call_duration_all, last(all.size()));
    }
    EXPECT_EQ(cds.connect_counter, 1005);
    long total = std::accumulate(all.begin(), all.end(), 0L);
    auto avg = [&](size_t w) { return std::accumulate(all.end() - (long)w, all.end(), 0L) / (long)w; };
    EXPECT_EQ(printed(cds), "Avg. call duration (all 1005 connected calls): " + hms(total / 1005) + "\n" +
                                "Avg. call duration (last 10 connected calls): " + hms(avg(10)) + "\n" +
                                "Avg. call duration (last 100 connected calls): " + hms(avg(100)) + "\n" +
                                "Avg. call duration (last 1000 connected calls): " + hms(avg(1000)) + "\n");
}

TEST(CallDuration, FewCallsAndFormat)
{
    static call_duration_statistics cds;
    EXPECT_EQ(printed(cds), "Avg. call duration (all 0 connected calls): 00:00:00\n"
                            "Avg. call duration (last 10 connected calls): 00:00:00\n"
                            "Avg. call duration (last 100 connected calls): 00:00:00\n"
                            "Avg. call duration (last 1000 connected calls): 00:00:00\n");
    add_connected_call_duration(&cds, 61);
    add_connected_call_duration(&cds, 120);
    add_connected_call_duration(&cds, 3600);
    // fewer calls than a window: divided by the calls there are
    EXPECT_EQ(printed(cds), "Avg. call duration (all 3 connected calls): 00:21:00\n"
                            "Avg. call duration (last 10 connected calls): 00:21:00\n"
                            "Avg. call duration (last 100 connected calls): 00:21:00\n"
                            "Avg. call duration (last 1000 connected calls): 00:21:00\n");
    struct {
        int seconds;
        const char *text;
    } cases[] = {{0, "00:00:00"}, {59, "00:00:59"}, {3599, "00:59:59"}, {90061, "25:01:01"},
                 {360000, "100:00:00"}, {-5, "00:00:00"}};
    for (auto &c : cases)
        EXPECT_EQ(hms(c.seconds), c.text) << c.seconds;
    char small[4];
    format_time(small, sizeof small, 90061);
    EXPECT_STREQ(small, "25:");
}

TEST(CallStatistics, PortsOutsideTheArraysAreNotCounted)
{
    application_create();
    debug_lines log({TARN});
    call_statistics &cs = gp->callstat;
    for (int port : {0, 9, 32})
        ++*callstat_port(cs.counter_isdn_to_sip_port, port);
    EXPECT_EQ(cs.counter_isdn_to_sip_port[32], 1u);
    for (int port : {-1, 33, 1000})
        EXPECT_EQ(callstat_port(cs.counter_sip_to_analog_port, port), nullptr) << port;
    EXPECT_EQ(log.count("call statistics: port 33 outside 0..32"), 1);
    cs.counter_sip_to_sip_max_simultaneous = 4;
    cs.sms_received[31] = 2;
    call_statistics_reset();
    static const call_statistics zero{};
    EXPECT_EQ(memcmp(&cs, &zero, sizeof zero), 0);
}

TEST(StateNames, ForwardingAndCrypto)
{
    EXPECT_STREQ(print_cf_state(0), "CF_ACTIVATE_SENT");
    EXPECT_STREQ(print_cf_state(1), "CF_ACTIVATE_ANSWERED1");
    EXPECT_STREQ(print_cf_state(15), "CF_LISTQUERY_FAILED");
    EXPECT_STREQ(print_cf_state(16), "UNDEFINED");
    EXPECT_STREQ(print_cf_state(-1), "UNDEFINED");
    EXPECT_STREQ(print_crypto_type(0), "CRYPTO_OFFER_NONE");
    EXPECT_STREQ(print_crypto_type(4), "CRYPTO_ANSWER_RECEIVED");
    EXPECT_STREQ(print_crypto_type(5), "CRYPTO_OFFER_UNKNOWN");
    EXPECT_EQ(rtp_port_in_our_range(), 1);
    const char *texts[] = {"b", "a\xff", "a", "B"};
    qsort(texts, 4, sizeof texts[0], comp_char_pointers);
    EXPECT_STREQ(texts[0], "B");
    EXPECT_STREQ(texts[1], "a");
    EXPECT_STREQ(texts[2], "a\xff");
    EXPECT_STREQ(texts[3], "b");
}

// A pool of call objects for the tests below.
class CallPool : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(4), 0);
        saved = nua_hooks;
        nua_stack_hooks h = nua_hooks;
        h.finish_call = record_finish;
        nua_stack_set_hooks(&h);
        finished.clear();
        old_message = log_out_message;
        log_set_log_handler_message(record_message);
        old_enabled = log_levels_message_enabled;
        log_levels_message_enabled = 1;
        messages().clear();
    }
    void TearDown() override
    {
        nua_stack_set_hooks(&saved);
        log_set_log_handler_message(old_message);
        log_levels_message_enabled = old_enabled;
        for (int i = 0; i < OPERATIONARRAYSIZE; i++)
            init_call_object(gp->operations[i], i);
    }
    static call_object *op(int i) { return gp->operations[i]; }
    static call_object *in_use(int i, int pid)
    {
        op(i)->callinfo = CI_SIP_TO_ISDN;
        op(i)->pid = pid;
        return op(i);
    }
    struct finish {
        call_object *co;
        int origin;
        bool lock_free; // global_lock was released while finishing
    };
    static void record_finish(call_object *co, FILE *, int origin)
    {
        bool free_lock = pthread_mutex_trylock(gp->locks->global_lock) == 0;
        if (free_lock)
            pthread_mutex_unlock(gp->locks->global_lock);
        finished.push_back({co, origin, free_lock});
    }
    static std::vector<std::string> &messages()
    {
        static std::vector<std::string> m;
        return m;
    }
    static void record_message(int level, int, const char *, int, const char *fmt, va_list ap)
    {
        char buf[512];
        vsnprintf(buf, sizeof buf, fmt, ap);
        messages().push_back(std::to_string(level) + "|" + buf);
    }
    static std::vector<finish> finished;
    nua_stack_hooks saved;
    LogFuncMessage old_message;
    int32_t old_enabled;
};
std::vector<CallPool::finish> CallPool::finished;

TEST_F(CallPool, EmergencyNeverEndsAnEmergencyCall)
{
    call_object *urgent = in_use(0, 10);
    urgent->f.emergency = 1;
    in_use(1, 11)->f.emergency = 1;
    pthread_mutex_lock(gp->locks->global_lock);
    emergency_terminate_call(urgent); // only emergency calls: nothing
    EXPECT_TRUE(finished.empty());

    call_object *victim = in_use(3, 13); // index 2 stays free
    emergency_terminate_call(urgent);
    pthread_mutex_unlock(gp->locks->global_lock); // held again on return
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].co, victim);
    EXPECT_EQ(finished[0].origin, 1);
    EXPECT_TRUE(finished[0].lock_free);
    char want[256];
    snprintf(want, sizeof want, "16|emergency_terminate_call (%p): FOUND KILLABLE CO %p AT INDEX 3\n", (void *)urgent,
             (void *)victim);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], want);

    // the new call itself is never chosen, even when it is the only other one
    finished.clear();
    urgent->f.emergency = 0;
    victim->callinfo = CI_FREE;
    op(1)->callinfo = CI_FREE;
    pthread_mutex_lock(gp->locks->global_lock);
    emergency_terminate_call(urgent);
    pthread_mutex_unlock(gp->locks->global_lock);
    EXPECT_TRUE(finished.empty());
}

TEST_F(CallPool, TranscodingBuddy)
{
    call_object *co = in_use(0, 41);
    call_object *buddy = get_transcoding_buddy(co);
    ASSERT_EQ(buddy, op(1));
    EXPECT_EQ(buddy->pid, 1000000041);
    EXPECT_EQ(buddy->callinfo, CI_INTERNAL);
    EXPECT_TRUE(buddy->f.is_transcoding_buddy);
    EXPECT_EQ(co->transcoding_buddy, buddy);
    EXPECT_EQ(get_transcoding_buddy(co), buddy); // the existing one
    EXPECT_EQ(get_transcoding_buddy(buddy), nullptr);

    in_use(2, 42);
    call_object *last = in_use(3, 43);
    EXPECT_EQ(get_transcoding_buddy(last), nullptr); // pool exhausted
    EXPECT_EQ(last->transcoding_buddy, nullptr);
}

} // namespace

namespace {

// Call control's answers for the SIP peer report.
const char *reg_double(reg_object *ro, int *code)
{
    *code = ro->index == 0 ? 200 : 0;
    return ro->index == 0 ? "SM_SIP_REGISTRATION_REGISTERED" : "REGISTRATION_DISABLED";
}
const char *val_double(reg_object *ro, int *code)
{
    *code = ro->index == 0 ? 0 : 408;
    return ro->index == 0 ? "VALIDATION_DISABLED" : "NOT_VALIDATED";
}
int group_double(const reg_object *ro, const char **name, int *do_register, int *do_validate)
{
    if (ro->index == 1)
        return -1; // no group
    *name = ro->index == 0 ? "provider" : "pbx";
    *do_register = ro->index == 0;
    *do_validate = ro->index != 0;
    return 0;
}

// The report to a stream of its own (to_stream) or to the SNMP notify stream.
std::string report(bool to_stream, int lock)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *mem = open_memstream(&buf, &len);
    FILE *old = log_backend()->snmp_notify_fp;
    if (!to_stream)
        log_backend()->snmp_notify_fp = mem;
    snmp_notify_sip_peers(to_stream ? mem : nullptr, lock);
    log_backend()->snmp_notify_fp = old;
    fclose(mem);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(SipPeerReport, OneLinePerRegistration)
{
    application_create();
    init_locks();
    reg_object **saved = gp->registrations;
    int saved_size = REGISTRATIONARRAYSIZE;

    gp->registrations = nullptr;
    REGISTRATIONARRAYSIZE = 3;
    EXPECT_EQ(report(false, 1), ""); // no array yet

    reg_object ros[3] = {};
    reg_object *array[3];
    for (int i = 0; i < 3; i++)
        array[i] = init_reg_object(&ros[i], i);
    gp->registrations = array;
    {
        debug_lines log({TARN});
        EXPECT_EQ(report(false, 1), ""); // nothing to ask yet
        EXPECT_EQ(report(false, 1), "");
        EXPECT_EQ(log.count("is not part of this build"), 1); // once
    }

    sip_peer_report_hooks h = {reg_double, val_double, group_double};
    sip_peer_report_set_hooks(&h);
    const std::string want = "SIP_INFO:0:provider:1:SM_SIP_REGISTRATION_REGISTERED:200:0:VALIDATION_DISABLED:0\n"
                             "SIP_INFO:2:pbx:0:REGISTRATION_DISABLED:0:1:NOT_VALIDATED:408\n";
    EXPECT_EQ(report(true, 1), want);
    EXPECT_EQ(report(false, 1), want);
    pthread_mutex_lock(gp->locks->global_lock); // without lock the caller holds it
    EXPECT_EQ(report(true, 0), want);
    pthread_mutex_unlock(gp->locks->global_lock);

    sip_peer_report_set_hooks(nullptr);
    gp->registrations = saved;
    REGISTRATIONARRAYSIZE = saved_size;
}

} // namespace

namespace {

TEST_F(CallPool, EmergencyOnAnIsdnPort)
{
    static misdn_bchannel bcs[3];
    call_object *urgent = in_use(0, 20);
    dialplan_element dp{};
    char to_id[] = "2";
    dp.to_id = to_id;
    urgent->dp = &dp;
    int ports[] = {2, 3, 2};
    for (int i = 0; i < 3; i++) {
        bcs[i] = misdn_bchannel{};
        bcs[i].port = ports[i];
        in_use(i + 1, 21 + i)->bc = &bcs[i];
    }
    op(1)->f.emergency = 1;

    struct {
        const char *target;
        int chosen; // index, or -1
    } cases[] = {{"2", 3}, {"3,2", 2}, {"5", -1}, {"", -1}, {"x", -1}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.target);
        finished.clear();
        messages().clear();
        pthread_mutex_lock(gp->locks->global_lock);
        misdn_bchannel *bc = emergency_terminate_isdn_call(urgent, c.target);
        pthread_mutex_unlock(gp->locks->global_lock);
        EXPECT_EQ(bc, nullptr); // no ISDN port is up here
        if (c.chosen < 0) {
            EXPECT_TRUE(finished.empty());
            continue;
        }
        ASSERT_EQ(finished.size(), 1u);
        EXPECT_EQ(finished[0].co, op(c.chosen));
        EXPECT_EQ(finished[0].origin, 2);
        EXPECT_TRUE(finished[0].lock_free);
        char want[256];
        snprintf(want, sizeof want, "16|emergency_terminate_call (%p): FOUND KILLABLE CO %p AT INDEX %i PORT %i\n",
                 (void *)urgent, (void *)op(c.chosen), c.chosen, op(c.chosen)->bc->port);
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_EQ(messages()[0], want);
    }
}

} // namespace

namespace {

TEST(StopThreads, RunFlagsCleared)
{
    application_create();
    for (volatile int *flag : {&gp->run_sm_helper, &gp->run_pcm_server, &gp->run_status_server,
                               &gp->run_msp_safeguard, &gp->run_pcm_client})
        *flag = 1;
    stop_threads();
    EXPECT_EQ(gp->run_sm_helper, 0);
    EXPECT_EQ(gp->run_pcm_server, 0);
    EXPECT_EQ(gp->run_status_server, 0);
    EXPECT_EQ(gp->run_msp_safeguard, 0);
    EXPECT_EQ(gp->run_pcm_client, 1); // the client keeps running
    gp->run_pcm_client = 0;
}

} // namespace
