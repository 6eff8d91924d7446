#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "misdn_bchannel.h"
#include "pools.h"

namespace {

std::vector<std::string> lines;
std::vector<std::string> tags;
void rec_debug(int, int, const char *, int, const char *, const char *tag, const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    lines.push_back(t);
    tags.push_back(tag ? tag : "");
    free(t);
}

class Pools : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(8), 0);
        for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
            init_call_object(gp->operations[i], i);
            gp->operations[i]->pid = 0;
        }
        for (int i = 0; i < CLSIPSIZE; i++)
            gp->sip_call_legs[i]->in_use = 0;
        lines.clear();
        tags.clear();
        log_levels_debug[TARN] = 9;
        log_set_log_handler_debug(rec_debug);
    }
    void TearDown() override { log_set_log_handler_debug(nullptr); }
};

TEST_F(Pools, LowestFreeIndexExhaustionAndRelease)
{
    std::vector<call_object *> taken;
    for (int i = 0; i < 8; i++) {
        call_object *co = get_free_operation_handle(1);
        ASSERT_NE(co, nullptr);
        EXPECT_EQ(co->index, i);
        EXPECT_EQ(co->callinfo, CI_INUSE);
        taken.push_back(co);
    }
    EXPECT_LT(taken[0]->pid, taken[7]->pid);
    lines.clear();
    EXPECT_EQ(get_free_operation_handle(1), nullptr);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "CRITICAL: couldn't get free call object (8 in total, all in use)");

    // Freeing 5 and 2 makes 2 the next one taken, then 5.
    taken[5]->callinfo = CI_FREE;
    taken[2]->callinfo = CI_FREE;
    int pid2 = taken[2]->pid;
    EXPECT_EQ(get_free_operation_handle(0), taken[2]);
    EXPECT_EQ(taken[2]->pid, pid2) << "generate_pid 0 keeps the previous identifier";
    EXPECT_EQ(get_free_operation_handle(1), taken[5]);
    EXPECT_NE(taken[5]->pid, 0);
}

TEST_F(Pools, TakingLogsTheCallTag)
{
    call_object *co = get_free_operation_handle(1);
    ASSERT_NE(co, nullptr);
    char want[32];
    snprintf(want, sizeof want, "CID:%06i:00", co->pid);
    auto it = std::find_if(lines.begin(), lines.end(),
                           [](const std::string &l) { return l.rfind("free op handle at index 0", 0) == 0; });
    ASSERT_NE(it, lines.end());
    EXPECT_EQ(tags[it - lines.begin()], want);
}

TEST_F(Pools, LookupsByIndex)
{
    EXPECT_EQ(get_operation_by_index(-1), nullptr);
    EXPECT_EQ(get_operation_by_index(OPERATIONARRAYSIZE), nullptr);
    EXPECT_EQ(get_operation_by_index(0), nullptr) << "free objects are not found";
    call_object *co = get_free_operation_handle(1);
    EXPECT_EQ(get_operation_by_index(0), co);
    EXPECT_EQ(get_index_of_operation(co), 0);
    EXPECT_EQ(get_index_of_operation(nullptr), -1);
    EXPECT_EQ(get_index_of_reg_object(nullptr), -1);
    EXPECT_EQ(get_registered_user_by_index(0), nullptr);
}

TEST_F(Pools, SipLegsFromPoolThenHeap)
{
    snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "192.0.2.10");
    std::set<call_leg_sip *> seen;
    for (int i = 0; i < CLSIPSIZE; i++) {
        call_leg_sip *cl = get_new_sip_call_leg();
        EXPECT_EQ(cl->index, i);
        EXPECT_EQ(cl->allocated, 0);
        seen.insert(cl);
    }
    EXPECT_EQ(seen.size(), 16u);
    call_leg_sip *heap = get_new_sip_call_leg();
    EXPECT_EQ(heap->allocated, 1);
    EXPECT_EQ(heap->nua, nullptr);
    EXPECT_EQ(seen.count(heap), 0u);
    for (call_leg_sip *cl : {heap, *seen.begin()}) {
        EXPECT_EQ(cl->in_use, 1);
        EXPECT_EQ(cl->outbound_options, 53);
        EXPECT_EQ(cl->using_codec, -1);
        EXPECT_EQ(cl->using_payload, -1);
        EXPECT_EQ(cl->msp_channel, -1);
        EXPECT_EQ(cl->pt_telephony_event, 101);
        EXPECT_STREQ(cl->using_ip, "192.0.2.10");
    }
    delete heap;
}

TEST_F(Pools, CallObjectDefaults)
{
    call_object *co = gp->operations[3];
    EXPECT_EQ(co->index, 3);
    EXPECT_EQ(co->handletype, HT_CALL);
    EXPECT_EQ(co->sm_state, 1u);
    EXPECT_EQ(co->tdm_logical_timeslot, -1);
    EXPECT_EQ(co->remote_tdm_logical_timeslot, -1);
    EXPECT_EQ(co->gsm_call_id, -1);
    EXPECT_EQ(co->conference_id, -1);
    EXPECT_EQ(co->ecall_simple, -1);
    EXPECT_EQ(co->ecall_parsed, -1);
    EXPECT_EQ(co->dismantling_timeout, 60);
    EXPECT_EQ(co->counteri, 1);
    EXPECT_EQ(co->legi, &co->_legi);
    EXPECT_EQ(co->cc_active, &co->cc);
    EXPECT_EQ(co->cc_source, &gp->default_call_configuration);
    EXPECT_EQ(co->bc_oad, co->pstn_oad);
    EXPECT_EQ(co->analog_dad, co->pstn_dad);
    EXPECT_EQ(co->cas_display, co->pstn_display);
    EXPECT_EQ(co->msp_tonedet_history, &co->_msp_tonedet_history);
}

TEST(PoolSize, FromConfiguredLines)
{
    struct {
        int pri, other, cas, analog, gsm, configured, want;
    } cases[] = {
        {4, 0, 0, 0, 0, 0, 133}, // trunc(121 * 1.1)
        {0, 0, 0, 0, 0, 0, 1},
        {0, 2, 1, 4, 2, 0, 13},  // 11 lines: trunc(12 * 1.1)
        {0, 0, 0, 0, 0, 500, 256},
        {0, 0, 0, 0, 0, 7, 7},
        {9, 0, 0, 0, 0, 0, 256}, // 271 * 1.1 over the cap
    };
    for (auto &c : cases)
        EXPECT_EQ(get_number_of_needed_call_objects(c.pri, c.other, c.cas, c.analog, c.gsm, c.configured), c.want)
            << c.pri << "/" << c.other << "/" << c.configured;
    application_create();
    init_locks();
    ASSERT_EQ(create_call_object_pools(get_number_of_needed_call_objects(0, 0, 0, 0, 0, 500)), 0);
    EXPECT_EQ(OPERATIONARRAYSIZE, 256);
    EXPECT_EQ(CLSIPSIZE, 512);
}

TEST(CallTags, Formats)
{
    EXPECT_STREQ(cinfo(nullptr), "CID:000000:00");
    EXPECT_STREQ(rinfo(nullptr), "RID:000000:00");
    call_object co{};
    init_call_object(&co, 0);
    co.pid = 42;
    co.callinfo = CI_SIP_TO_SIP;
    call_leg_sip in{}, out{};
    co.cl_sip_in = &in;
    co.cl_sip_out = &out;
    co.cl_sip = &out;
    EXPECT_STREQ(cinfo(&co), "CID:000042:l2");
    co.cl_sip = &in;
    EXPECT_STREQ(cinfo(&co), "CID:000042:l1");
    co.cl_sip = nullptr;
    EXPECT_STREQ(cinfo(&co), "CID:000042:l0");
    co.callinfo = CI_SIP_TO_GSM;
    EXPECT_STREQ(cinfo(&co), "CID:000042:00");
    co.cas_port = 3;
    EXPECT_STREQ(cinfo(&co), "CID:000042:c3");
    co.gsm_port = 2;
    EXPECT_STREQ(cinfo(&co), "CID:000042:g2");
    co.analog_port = 5;
    EXPECT_STREQ(cinfo(&co), "CID:000042:a5");
    misdn_bchannel bc{};
    bc.port = 7;
    co.bc = &bc;
    EXPECT_STREQ(cinfo(&co), "CID:000042:p7");
    reg_object ro{};
    ro.pid = 1234567;
    EXPECT_STREQ(rinfo(&ro), "RID:1234567:00");
}

TEST(CallTags, EachThreadKeepsItsOwnText)
{
    std::atomic<int> bad{0};
    std::vector<std::thread> ts;
    for (int t = 0; t < 8; t++)
        ts.emplace_back([t, &bad] {
            call_object co{};
            init_call_object(&co, 0);
            co.pid = t + 1;
            char want[32];
            snprintf(want, sizeof want, "CID:%06i:00", t + 1);
            for (int i = 0; i < 20000; i++) {
                const char *tag = cinfo(&co);
                if (strcmp(tag, want) != 0)
                    bad++;
            }
        });
    for (auto &th : ts)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(Pools, ConcurrentTakeAndReleaseNeverSharesAnObject)
{
    log_set_log_handler_debug(nullptr); // the recorder is not thread-safe
    std::atomic<int> owners[8] = {};
    std::atomic<int> doubles{0};
    std::vector<std::thread> ts;
    for (int t = 0; t < 8; t++)
        ts.emplace_back([&] {
            for (int i = 0; i < 3000; i++) {
                call_object *co = get_free_operation_handle(1);
                if (!co)
                    continue;
                if (owners[co->index].fetch_add(1) != 0)
                    doubles++;
                owners[co->index].fetch_sub(1);
                pthread_mutex_lock(gp->locks->co_list_lock);
                co->callinfo = CI_FREE;
                pthread_mutex_unlock(gp->locks->co_list_lock);
            }
        });
    for (auto &th : ts)
        th.join();
    EXPECT_EQ(doubles.load(), 0);
}

} // namespace
