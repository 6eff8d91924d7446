#include <gtest/gtest.h>

#include <cstring>

#include "sm_events.h"
#include "state_names.h"

namespace {

// Every literal word the machines and producers use decodes into its parts,
// and the parts make the same word again.
TEST(EventWords, DecodeAndEncodeEveryLiteralWord)
{
    const struct {
        uint32_t word;
        int type, status, code;
        const char *source, *name;
    } cases[] = {
        {0x13e8001f, SM_EVENT_TYPE_SIP, 1000, nua_r_invite, "SIP", "NUA_R_INVITE"},
        {0x13e9001f, SM_EVENT_TYPE_SIP, 1001, nua_r_invite, "SIP", "NUA_R_INVITE"},
        {0x20000401, SM_EVENT_TYPE_TIMER, 0, T_EVENT_REG_REFRESH, "TIMER", "T_EVENT_REG_REFRESH"},
        {0x30001002, SM_EVENT_TYPE_GENERAL, 0, GENERAL_EVENT_FINISH_CALL, "GENERAL", "GENERAL_EVENT_FINISH_CALL"},
        {0x30001013, SM_EVENT_TYPE_GENERAL, 0, GENERAL_EVENT_REGISTRATION_REFRESH, "GENERAL",
         "GENERAL_EVENT_REGISTRATION_REFRESH"},
        {0x30001026, SM_EVENT_TYPE_GENERAL, 0, GENERAL_EVENT_VALIDATE_OPTIONS, "GENERAL",
         "GENERAL_EVENT_VALIDATE_OPTIONS"},
        {0x1198001d, SM_EVENT_TYPE_SIP, 408, nua_r_register, "SIP", "NUA_R_REGISTER"},
        {0x3000200d, SM_EVENT_TYPE_GENERAL, 0, ANALOG_EVENT_MESSAGE_WAITING_DELIVERED, "GENERAL",
         "ANALOG_EVENT_MESSAGE_WAITING_DELIVERED"},
        {0x100003ea, SM_EVENT_TYPE_SIP, 0, SIP_EVENT_183_WAIT_FOR_CANCEL, "SIP", "SIP_EVENT_183_WAIT_FOR_CANCEL"},
        {0x00630208, SM_EVENT_TYPE_ISDN, 99, EVENT_SETUP, "ISDN", "EVENT_SETUP"},
        {0x40004005, SM_EVENT_TYPE_GSM, 0, GSM_EVENT_TYPE_RINGING, "GSM", nullptr},
        {0x50002001, SM_EVENT_TYPE_ANALOG, 0, ANALOG_EVENT_OFFHOOK, "ANALOG", "ANALOG_EVENT_OFFHOOK"},
        {0x60008011, SM_EVENT_TYPE_CAS, 0, CAS_EVENT_SEIZE, "CAS", "CAS_EVENT_SEIZE"},
        {0x70000000, 7, 0, 0, "UNKNOWN", "NUA_I_ERROR"},
        {0xfffffffc, 15, 0xfff, 0xfffc, "UNKNOWN", "UNKNOWN_EVENT"}, // the tables' "any event"
    };
    for (const auto &c : cases) {
        int type = -1, code = -1, status = -1;
        decode_complex_event((int32_t)c.word, &type, &code, &status);
        EXPECT_EQ(type, c.type) << std::hex << c.word;
        EXPECT_EQ(status, c.status) << std::hex << c.word;
        EXPECT_EQ(code, c.code) << std::hex << c.word;
        EXPECT_EQ((uint32_t)sm_event_word(type, status, code), c.word) << std::hex << c.word;
        EXPECT_STREQ(format_sm_type_string(type), c.source) << std::hex << c.word;
        if (c.name) {
            EXPECT_STREQ(print_event(code), c.name) << std::hex << c.word;
        }
    }
    EXPECT_EQ((uint32_t)SM_ANY, 0xfffffffcu);
    EXPECT_EQ(sm_out(16, EVENT_DISCONNECT), 0x0010021a);
    EXPECT_EQ(sm_sip(200, nua_i_bye), 0x10c80009);
    EXPECT_STREQ(format_sm_type_string(-1), "UNKNOWN");
}

TEST(EventWords, StateBitsOfEveryKind)
{
    // Each per-kind list starts at bit 16 and ends where its names end.
    EXPECT_EQ(SM_ISDN_WAIT_FOR_DIALING_OD, 1 << 18);
    EXPECT_EQ(SM_GSM_WAIT_FOR_CID, 1 << 19);
    EXPECT_EQ(SM_ITAPI_SOCKET_PREPARING, 1 << 19);
    EXPECT_EQ(sm_state_bits(SM_CAS_MESSAGE_WAITING), 1u << 31);
    EXPECT_EQ(SM_ANALOG_FXS_WAIT_FOR_ONHOOK, 1 << 28);
    EXPECT_EQ(SM_ANALOG_FXO_CID_WATCHDOG, 1 << 21);
    EXPECT_EQ(SM_SIP_WAITING_FOR_SLOT, 1 << 9);
    EXPECT_EQ(SM_SIP_INVITE_TRANSFER_REINVITE_3, 1 << 14);
    // The names of the per-kind lists sit at the same bit.
    const struct {
        const char *const *list;
        int rows;
        uint32_t first, last;
    } lists[] = {
        {callobject_callstate_list_isdn, 4, SM_ISDN_RINGING, SM_ISDN_WAIT_FOR_DIALING_OD},
        {callobject_callstate_list_gsm, 5, SM_GSM_DIALED, SM_GSM_WAIT_FOR_CID},
        {callobject_callstate_list_itapi, 5, SM_ITAPI_SOCKET_CREATED, SM_ITAPI_SOCKET_PREPARING},
        {callobject_callstate_list_cas, 17, SM_CAS_OFFHOOK, sm_state_bits(SM_CAS_MESSAGE_WAITING)},
        {callobject_callstate_list_analog_fxs, 14, SM_ANALOG_FXS_OFFHOOK, SM_ANALOG_FXS_WAIT_FOR_ONHOOK},
        {callobject_callstate_list_analog_fxo, 7, SM_ANALOG_FXO_OFFHOOK, SM_ANALOG_FXO_CID_WATCHDOG},
    };
    for (const auto &l : lists) {
        EXPECT_EQ(bit_shift_value(l.first), 17);
        EXPECT_EQ(bit_shift_value(l.last), 16 + l.rows - 1) << l.list[1];
    }
}

} // namespace
