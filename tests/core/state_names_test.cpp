#include <gtest/gtest.h>

#include <set>
#include <string>

#include "analog_internal.h"
#include "call_info.h"
#include "call_object.h"
#include "debug_lines.h"
#include "reg_object.h"
#include "state_names.h"

namespace {

TEST(StateNames, EventNamesAtTheEdgesOfEveryRange)
{
    const struct {
        int event;
        const char *name;
    } cases[] = {
        {0, "NUA_I_ERROR"},
        {47, "NUA_R_AUTHENTICATE "},
        {54, "NUA_I_REGISTER"},
        {55, "NUA_R_UNREF"},
        {56, "NUA_R_HANDLE_UNREF"},
        {57, "UNKNOWN_EVENT"},
        {1001, "UNKNOWN_EVENT"},
        {1002, "SIP_EVENT_183_WAIT_FOR_CANCEL"},
        {1003, "UNKNOWN_EVENT"},
        {511, "UNKNOWN_EVENT"},
        {512, "EVENT_NOTHING"},
        {554, "EVENT_UNKNOWN"},
        {555, "UNKNOWN_EVENT"},
        {1024, "T_EVENT_DIALING"},
        {1054, "T_EVENT_FXS_WINK_TIMER"},
        {1055, "UNKNOWN_EVENT"},
        {2048, "GSM_EVENT_TYPE_AT"},
        {2107, "GSM_EVENT_TYPE_UNKNOWN"},
        {2108, "UNKNOWN_EVENT"},
        {4096, "GENERAL_EVENT_MSP_FAX_TONE_DETECTED"},
        {4098, "GENERAL_EVENT_FINISH_CALL"},
        {4136, "GENERAL_EVENT_RESTART_TRANSCODING"},
        {4137, "UNKNOWN_EVENT"},
        {8192, "ANALOG_EVENT_UNKNOWN"},
        {8199, "ANALOG_EVENT_IDLE_PENDING"},
        {8211, "ANALOG_EVENT_POLARITY_WINK"},
        {8212, "UNKNOWN_EVENT"},
        {16384, "AT"},        // the GSM library's own names
        {16432, "AT&V"},
        {16443, "UNKNOWN"},
        {16444, "UNKNOWN_EVENT"},
        {32767, "UNKNOWN_EVENT"},
        {32768, "CAS_EVENT_UNKNOWN"},
        {32790, "CAS_EVENT_GENERATE_CID"},
        {32791, "UNKNOWN_EVENT"},
        {-1, "UNKNOWN_EVENT"},
    };
    for (const auto &c : cases) {
        debug_lines log({TARN});
        EXPECT_STREQ(print_event(c.event), c.name) << c.event;
        bool unknown = std::string(c.name) == "UNKNOWN_EVENT";
        EXPECT_EQ(log.lines().size(), unknown ? 1u : 0u) << c.event;
        if (unknown) {
            EXPECT_EQ(log.count("Unknown event " + std::to_string(c.event)), 1) << c.event;
        }
    }
}

TEST(StateNames, BitShiftValue)
{
    EXPECT_EQ(bit_shift_value(0), 0);
    EXPECT_EQ(bit_shift_value(1), 1);
    EXPECT_EQ(bit_shift_value(2), 2);
    EXPECT_EQ(bit_shift_value(4), 3);
    EXPECT_EQ(bit_shift_value(3), 0);
    EXPECT_EQ(bit_shift_value(0x10000), 17);
    EXPECT_EQ(bit_shift_value(0x40000000), 31);
    EXPECT_EQ(bit_shift_value(0x80000000u), 32);
    EXPECT_EQ(bit_shift_value(0x80000001u), 0);
}

struct analog_port_type_guard {
    int port;
    int saved;
    analog_port_type_guard(int p, int type) : port(p), saved(analog_ctlports[p].type)
    {
        analog_ctlports[p].type = type;
    }
    ~analog_port_type_guard() { analog_ctlports[port].type = saved; }
};

TEST(StateNames, CallStatesFollowTheCallKind)
{
    static call_object co; // zero
    const struct {
        int callinfo;
        int analog_type; // of the call's port, 0: no analog port
        uint32_t state;
        const char *name;
    } cases[] = {
        {CI_ISDN_TO_SIP, 0, 0x10000, "SM_ISDN_RINGING"},
        {CI_SIP_TO_SIP, 0, 0x10000, "UNKNOWN_STATE"},
        {CI_SIP_TO_SIP, 0, 3, "UNKNOWN_STATE"}, // not a single bit
        {CI_SIP_TO_SIP, 0, 0, "UNKNOWN_STATE"},
        {CI_SIP_TO_SIP, 0, 1, "SM_INACTIVE"},
        {CI_SIP_TO_SIP, 0, 0x4000, "SM_SIP_INVITE_TRANSFER_REINVITE_3"},
        {CI_ISDN_TO_SIP, 0, 0x8000, "UNKNOWN_STATE"}, // bit 15 is unused
        {CI_TELNET_TO_ISDN, 0, 0x40000, "SM_ISDN_WAIT_FOR_DIALING_OD"},
        {CI_ISDN_TO_SIP, 0, 0x80000, "UNKNOWN_STATE"}, // past the end of the list
        {CI_ISDN_TO_SIP, 0, 0x100000, "UNKNOWN_STATE"},
        {CI_GSM_TO_SIP, 0, 0x40000, "SM_GSM_INBOUND"},
        {CI_SIP_TO_GSM, 0, 0x80000, "SM_GSM_WAIT_FOR_CID"},
        {CI_SIP_TO_GSM, 0, 0x100000, "UNKNOWN_STATE"},
        {CI_SIP_TO_ITAPI, 0, 0x80000, "SM_ITAPI_SOCKET_PREPARING"},
        {CI_CAS_TO_SIP, 0, 0x10000, "SM_CAS_OFFHOOK"},
        {CI_SIP_TO_CAS, 0, 0x80000000u, "SM_CAS_MESSAGE_WAITING"},
        {CI_SIP_TO_ANALOG, 2, 0x200000, "SM_ANALOG_FXO_CID_WATCHDOG"},
        {CI_ANALOG_TO_SIP, 2, 0x400000, "UNKNOWN_STATE"},
        {CI_SIP_TO_ANALOG, 1, 0x200000, "SM_ANALOG_FXS_CALL_ON_HOLD_REINVITE"},
        {CI_ANALOG_TO_SIP, 1, 0x10000000, "SM_ANALOG_FXS_WAIT_FOR_ONHOOK"},
        {CI_ANALOG_TO_SIP, 1, 0x20000000, "UNKNOWN_STATE"},
        {CI_ANALOG_TO_SIP, 0, 0x10000, "UNKNOWN_STATE"},
        {CI_SIP_TO_ANALOG, 0, 1, "SM_INACTIVE"},
        {CI_ISDN_TO_TARN, 0, 0x10000, "UNKNOWN_STATE"},
    };
    const int port = 3;
    for (const auto &c : cases) {
        analog_port_type_guard g(port, c.analog_type);
        co.callinfo = c.callinfo;
        co.analog_port = c.analog_type ? port : 0;
        EXPECT_STREQ(print_sm_state_call(&co, c.state), c.name) << c.callinfo << " " << c.state;
    }
    co.analog_port = 0;
    EXPECT_STREQ(print_sm_state_call(nullptr, 0x100000), "UNKNOWN_STATE");
    EXPECT_STREQ(print_sm_state_call(nullptr, 1), "UNKNOWN_STATE");
}

TEST(StateNames, RegistrationAndSipStackStates)
{
    static reg_object ro; // zero
    EXPECT_STREQ(print_sm_state_reg(&ro, 64), "SM_SIP_REGISTRATION_UNREGISTERED");
    EXPECT_STREQ(print_sm_state_reg(&ro, 1), "SM_REG_INACTIVE");
    EXPECT_STREQ(print_sm_state_reg(&ro, 512), "SM_SIP_WAITING_FOR_SLOT");
    EXPECT_STREQ(print_sm_state_reg(&ro, 1024), "UNKNOWN_STATE");
    EXPECT_STREQ(print_sm_state_reg(&ro, 5), "UNKNOWN_STATE");
    EXPECT_STREQ(print_sm_state_reg(&ro, 0), "UNKNOWN_STATE");
    EXPECT_STREQ(print_sm_state_reg(nullptr, 64), "UNKNOWN_STATE");

    EXPECT_STREQ(print_nua_callstate(0), "nua_callstate_init - Initial state");
    EXPECT_STREQ(print_nua_callstate(10), "nua_callstate_terminated - BYE complete");
    EXPECT_STREQ(print_nua_callstate(11), "UNKNOWN_STATE");
    EXPECT_STREQ(print_nua_callstate(-1), "UNKNOWN_STATE");
}

TEST(StateNames, CallKinds)
{
    const struct {
        int callinfo;
        const char *name;
    } cases[] = {
        {CI_FREE, "FREE"},
        {CI_INUSE, "IN_USE"},
        {CI_SIP_TO_SIP, "SIP_TO_SIP"},
        {CI_ISDN_TO_SIP, "ISDN_TO_SIP"},
        {CI_ANALOG_TO_SIP, "ANALOG_TO_SIP"},
        {CI_GSM_TO_SIP, "GSM_TO_SIP"},
        {CI_TARN_TO_SIP, "TARN_TO_SIP"},
        {CI_CAS_TO_SIP, "CAS_TO_SIP"},
        {CI_SIP_TO_ISDN, "SIP_TO_ISDN"},
        {CI_SIP_TO_ANALOG, "SIP_TO_ANALOG"},
        {CI_SIP_TO_GSM, "SIP_TO_GSM"},
        {CI_SIP_TO_TARN, "SIP_TO_TARN"},
        {CI_SIP_TO_CAS, "SIP_TO_CAS"},
        {CI_INTERNAL, "INTERNAL"},
        {CI_REGISTER, "REGISTER"},
        {CI_SIP_TO_UNKNOWN, "UNKNOWN_TO_UNKNOWN"},
        {CI_SIP_TO_ITAPI, "UNKNOWN_TO_UNKNOWN"},
        {CI_ISDN_TO_TARN, "UNKNOWN_TO_UNKNOWN"},
        {CI_TELNET_TO_ISDN, "UNKNOWN_TO_UNKNOWN"},
        {CI_GSM_TO_SIP_EXTENSIONS, "UNKNOWN_TO_UNKNOWN"},
        {7, "UNKNOWN_TO_UNKNOWN"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(print_callinfo(c.callinfo), c.name) << c.callinfo;
}

TEST(StateNames, ProviderMap)
{
    std::set<int> codes;
    for (const provider_entry &p : provider_map) {
        ASSERT_NE(p.name, nullptr);
        EXPECT_TRUE(codes.insert(p.code).second) << "duplicate code " << p.code;
    }
    EXPECT_EQ(codes.size(), 257u);
    EXPECT_STREQ(get_provider_name(26201), "Telekom.de");
    EXPECT_STREQ(get_provider_name(29701), "Telenor");
    EXPECT_STREQ(get_provider_name(302940), "Wightman");
    EXPECT_STREQ(get_provider_name(295295), "SwisscomFL");
    EXPECT_STREQ(get_provider_name(101), "Test 001 01");
    EXPECT_STREQ(get_provider_name(31002), "NEP Wireless");
    EXPECT_STREQ(get_provider_name(1), "Unknown");
    EXPECT_STREQ(get_provider_name(0), "Unknown");
}

} // namespace
