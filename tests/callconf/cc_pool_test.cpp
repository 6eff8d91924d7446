#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "call_object.h"
#include "cc_internal.h"
#include "cc_test_support.h"

namespace {

call_configuration_pool *pool()
{
    return gp->call_configuration_pool;
}

std::atomic<int> dtmf_calls{0};
int count_dtmf(call_object *)
{
    dtmf_calls++;
    return 0;
}

TEST_F(CallConf, PoolSharesOneRecordPerString)
{
    call_configuration *a = cc_parse_call_configuration_pool(nullptr, "ea=sdp,codecs=pcmu");
    call_configuration *b = cc_parse_call_configuration_pool(nullptr, "ea=sdp,codecs=pcmu");
    call_configuration *c = cc_parse_call_configuration_pool(nullptr, "EA=sdp,codecs=pcmu");
    call_configuration *d = cc_parse_call_configuration_pool(nullptr, "codecs=pcmu,ea=sdp");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, d);
    EXPECT_NE(c, d);
    EXPECT_EQ(cc_pool_count(), 3);
    EXPECT_EQ(a->early_audio, 2u);
    EXPECT_EQ(c->early_audio, 2u);
    EXPECT_EQ(gp->default_call_configuration.early_audio, 1u); // the default stays
    EXPECT_EQ(a->cid_gen_time, 1000);                         // made from the default
    EXPECT_EQ(pool()->references[0], 2);
    for (auto *r : {a, b, c, d})
        cc_release_call_configuration(r);
}

TEST_F(CallConf, PoolCleaningFreesWhatNobodyHoldsAndPacks)
{
    call_configuration *a = cc_parse_call_configuration_pool(nullptr, "ea=0");
    call_configuration *b = cc_parse_call_configuration_pool(nullptr, "ea=1");
    call_configuration *c = cc_parse_call_configuration_pool(nullptr, "ea=sdp");
    call_configuration *d = cc_parse_call_configuration_pool(nullptr, "dtmfmode=info");
    // A call keeps b, a dial plan line clone keeps c twice.
    call_configuration *held_by_call = nullptr;
    cc_assign_call_configuration(&held_by_call, b);
    cc_hold_call_configuration(c);
    for (auto *r : {a, b, c, d})
        cc_release_call_configuration(r); // the dial plan of these went away
    cc_clean_call_configuration_pool();
    EXPECT_EQ(cc_pool_count(), 2);
    EXPECT_EQ(pool()->cconf_max_val, 2);
    EXPECT_EQ(pool()->call_configurations[0], b); // packed, order kept
    EXPECT_EQ(pool()->call_configurations[1], c);
    EXPECT_EQ(pool()->call_configurations[2], nullptr);
    EXPECT_EQ(b->early_audio, 1u); // still intact for the call
    EXPECT_STREQ(pool()->call_configuration_string[1], "ea=sdp");

    // A later look-up finds the kept record; a new string takes the next slot.
    EXPECT_EQ(cc_parse_call_configuration_pool(nullptr, "ea=sdp"), c);
    call_configuration *e = cc_parse_call_configuration_pool(nullptr, "ea=0");
    EXPECT_EQ(pool()->call_configurations[2], e);

    cc_assign_call_configuration(&held_by_call, nullptr); // the call ends
    EXPECT_EQ(held_by_call, nullptr);
    cc_release_call_configuration(c);
    cc_release_call_configuration(c);
    cc_release_call_configuration(e);
    cc_clean_call_configuration_pool();
    EXPECT_EQ(cc_pool_count(), 0);
    EXPECT_EQ(pool()->cconf_max_val, 0);

    // Records outside the pool are never counted.
    cc_hold_call_configuration(&gp->default_call_configuration);
    cc_release_call_configuration(&gp->default_call_configuration);
    cc_release_call_configuration(nullptr);
    EXPECT_TRUE(take_lines().empty());
}

TEST_F(CallConf, PoolReusesTheFirstFreeSlot)
{
    call_configuration *r[3];
    const char *s[] = {"ea=0", "ea=1", "ea=sdp"};
    for (int i = 0; i < 3; i++)
        r[i] = cc_parse_call_configuration_pool(nullptr, s[i]);
    cc_release_call_configuration(r[0]);
    cc_clean_call_configuration_pool(); // slot 0 freed, the rest packed
    EXPECT_EQ(pool()->call_configurations[0], r[1]);
    call_configuration *n = cc_parse_call_configuration_pool(nullptr, "t38=1");
    EXPECT_EQ(pool()->call_configurations[2], n);
    for (auto *x : {r[1], r[2], n})
        cc_release_call_configuration(x);
    cc_clean_call_configuration_pool();
}

TEST_F(CallConf, PoolFullFallsBackToTheDefaultWithACriticalLine)
{
    std::vector<call_configuration *> taken;
    for (int i = 0; i < CC_POOL_SIZE; i++)
        taken.push_back(cc_parse_call_configuration_pool(nullptr, ("dtmflen=" + std::to_string(100 + i)).c_str()));
    EXPECT_EQ(cc_pool_count(), CC_POOL_SIZE);
    take_lines();
    call_configuration *full = cc_parse_call_configuration_pool(nullptr, "ea=sdp");
    EXPECT_EQ(full, &gp->default_call_configuration);
    EXPECT_EQ(gp->default_call_configuration.early_audio, 1u); // the string was not applied
    auto lines = take_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("CRITICAL:", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("|ea=sdp|"), std::string::npos) << lines[0];
    // Existing strings are still found.
    EXPECT_EQ(cc_parse_call_configuration_pool(nullptr, "dtmflen=100"), taken[0]);
    cc_release_call_configuration(taken[0]);
    for (auto *t : taken)
        cc_release_call_configuration(t);
    cc_clean_call_configuration_pool();
    EXPECT_EQ(cc_pool_count(), 0);
}

TEST_F(CallConf, DtmfFlagsFollowOnFoundAndMadeRecords)
{
    call_object co{};
    take_lines();
    // Unfilled, the hook says so once.
    cc_parse_call_configuration_direct(&co, &co.cc, "ea=0");
    cc_parse_call_configuration_direct(&co, &co.cc, "ea=0");
    auto lines = take_lines();
    int said = 0;
    for (auto &l : lines)
        said += l.find("not built: set_dtmf_generation_and_filter_options") != std::string::npos;
    EXPECT_LE(said, 1); // once per process; another test may have said it already

    cc_callctl_hooks h{count_dtmf};
    cc_set_callctl_hooks(&h);
    dtmf_calls = 0;
    call_configuration *made = cc_parse_call_configuration_pool(&co, "dtmfmode=inband");
    call_configuration *found = cc_parse_call_configuration_pool(&co, "dtmfmode=inband");
    EXPECT_EQ(made, found);
    EXPECT_EQ(dtmf_calls, 2);
    cc_parse_call_configuration_pool(nullptr, "dtmfmode=inband");
    EXPECT_EQ(dtmf_calls, 2); // no call, nothing to recompute
    cc_parse_call_configuration_direct(&co, &co.cc, "ea=0");
    EXPECT_EQ(dtmf_calls, 3);
    cc_parse_call_configuration_reg(nullptr, &co.cc, "ea=0");
    EXPECT_EQ(dtmf_calls, 3);
    cc_set_callctl_hooks(nullptr);
    for (int i = 0; i < 3; i++)
        cc_release_call_configuration(made);
    cc_clean_call_configuration_pool();
}

// Look-ups, holds and releases from several threads while the dial plan
// loader cleans: no record a thread holds is ever freed under it.
TEST_F(CallConf, PoolUnderConcurrentUseAndCleaning)
{
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> users;
    for (int t = 0; t < 4; t++) {
        users.emplace_back([t, &bad] {
            for (int i = 0; i < 2000; i++) {
                std::string s = "dtmflen=" + std::to_string(100 + (i + t) % 7);
                call_configuration *cc = cc_parse_call_configuration_pool(nullptr, s.c_str());
                if (cc->dtmflen != 100 + (i + t) % 7)
                    bad++;
                cc_hold_call_configuration(cc);
                cc_release_call_configuration(cc);
                if (cc->dtmflen != 100 + (i + t) % 7)
                    bad++;
                cc_release_call_configuration(cc);
            }
        });
    }
    std::thread cleaner([&stop] {
        while (!stop)
            cc_clean_call_configuration_pool();
    });
    for (auto &u : users)
        u.join();
    stop = true;
    cleaner.join();
    EXPECT_EQ(bad, 0);
    cc_clean_call_configuration_pool();
    EXPECT_EQ(cc_pool_count(), 0);
}

} // namespace
