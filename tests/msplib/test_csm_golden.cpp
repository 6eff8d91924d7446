// Frame images of every command, written from the message layouts: one
// image with the constructor's defaults and one with every field of the
// record at all ones (which shows exactly the bits the layout names). The
// serialiser must produce them byte for byte into a buffer that still holds
// older bytes, and tshark's CSM_ENCAPS dissector must read each frame back
// to the same header and words.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "csm_codes.h"
#include "csm_layout.h"
#include "csm_message.h"
#include "csm_serialise.h"
#include "csm_test_util.h"

namespace {

struct golden_image {
    uint16_t function_code;
    const char *defaults; // built with index 0x5a
    const char *ones;     // null: the all-ones record is refused
};

const golden_image goldens[] = {
    {REDIRECT_OVER_IP_UDP,
     "34 5a 78 c2 04 00 00 00 00 00 aa bb ee ff cc dd 11 22 55 66 33 44 08 00 "
     "45 00 00 00 00 00 40 00 80 11 00 00 aa bb cc dd 11 22 33 44 32 75 30 75 "
     "00 00 00 00",
     "34 5a 78 c2 04 00 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff"},
    {FC_SUPVSR_CREATE_CHANNEL,
     "0c 5a 00 06 10 00 00 00 02 00 00 00",
     "0c 5a 00 06 10 00 00 00 ff ff ff ff"},
    {FC_SUPVSR_DESTROY_CHANNEL,
     "0a 5a 00 06 11 00 00 00 00 00",
     "0a 5a 00 06 11 00 00 00 ff ff"},
    {FC_SPU_FEATURES_CONTROL,
     "0a 5a 00 06 13 00 00 00 00 00",
     "0a 5a 00 06 13 00 00 00 ff df"},
    {FC_SPU_RECOVERY_DISABLE,
     "0a 5a 00 06 55 00 00 00 00 00",
     "0a 5a 00 06 55 00 00 00 01 00"},
    {DIAG_REPORTCMD,
     "0a 5a 74 c2 fb 00 00 00 00 00",
     "0a 5a 74 c2 fb 00 00 00 ff ff"},
    {FC_SET_ETH_HDR,
     "18 5a 00 06 00 01 00 00 01 00 ff ee dd cc bb aa 66 55 44 33 22 11 08 00",
     "18 5a 00 06 00 01 00 00 ff 80 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_GET_ETH_HDR,
     "08 5a 00 05 01 01 00 00",
     "08 5a 00 05 01 01 00 00"},
    {FC_ETH_SERVICE_CONFIG,
     "0a 5a 00 06 04 01 00 00 00 00",
     "0a 5a 00 06 04 01 00 00 1f 00"},
    {FC_ARP_SERVICE_CONFIG,
     "0a 5a 00 06 05 01 00 00 00 00",
     "0a 5a 00 06 05 01 00 00 00 00"},
    {FC_SET_MULTICAST_ETH_ADDR,
     "10 5a 00 06 11 01 00 00 00 00 01 00 5e 00 01 00",
     "10 5a 00 06 11 01 00 00 00 80 ff ff ff ff ff ff"},
    {FC_SET_UNICAST_MAC_ADDR,
     "10 5a 00 06 13 01 00 00 01 00 00 00 00 00 00 00",
     "10 5a 00 06 13 01 00 00 ff ff ff ff ff ff ff ff"},
    {FC_IP_SERVICE_CONFIG,
     "0a 5a 00 06 02 03 00 00 00 02",
     "0a 5a 00 06 02 03 00 00 01 03"},
    {FC_IP_ADDRESS,
     "0c 5a 00 06 03 03 00 00 12 34 56 78",
     "0c 5a 00 06 03 03 00 00 ff ff ff ff"},
    {FC_ICMP_SERVICE_CONFIG,
     nullptr,
     nullptr},
    {FC_IP_OPTIONS,
     "0a 00 00 06 06 03 00 00 03 00",
     "0a 00 00 06 06 03 00 00 1f 00"},
    {FC_LATENCY_LEVEL,
     "0e 5a 00 06 06 04 00 00 00 00 00 00 00 00",
     "0e 5a 00 06 06 04 00 00 ff ff ff ff ff ff"},
    {FC_SUPVSR_SETUP_TDM_PARAMS,
     "10 5a 00 06 07 04 00 00 20 9f 00 0c 00 00 04 00",
     "10 5a 00 06 07 04 00 00 ff ff ff cf ff 0f 0f 00"},
    {FC_TDM_SELECT_BUS_MODE,
     "0a 5a 00 06 17 04 00 00 04 00",
     "0a 5a 00 06 17 04 00 00 ff 00"},
    {FC_DEVICE_SET_COUNTRY_CODE,
     "0a 5a 00 06 1b 04 00 00 00 00",
     "0a 5a 00 06 1b 04 00 00 ff ff"},
    {FC_CP_SET_COUNTRY_CODE_PARAMS,
     "70 5a 00 06 1c 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 a0 09 c1 ec a0 09 "
     "00 00 74 c7 9f 75 36 07 6c 0e 36 07 00 00 4f cd 13 67 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 01 00 01 00 02 00 00 00 40 04 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
     "70 5a 00 06 1c 04 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "00 00 ff ff ff ff ff ff ff ff ff ff 00 00 ff ff ff ff ff ff ff ff ff ff "
     "00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_SUPVSR_SET_TS_MODE,
     "0c 5a 00 06 24 04 00 00 00 00 00 00",
     "0c 5a 00 06 24 04 00 00 ff ff ff ff"},
    {FC_SUPVSR_SET_PCM_LAW,
     "0a 5a 00 06 25 04 00 00 01 00",
     "0a 5a 00 06 25 04 00 00 ff ff"},
    {FC_HANG_ON_ALERT,
     "0a 5a 00 06 39 04 00 00 03 00",
     "0a 5a 00 06 39 04 00 00 03 00"},
    {FC_CHANNELS_RESET,
     "0a 5a 00 06 f6 04 00 00 00 00",
     "0a 5a 00 06 f6 04 00 00 01 00"},
    {DIAG_PACKET_RX,
     "0a 5a 74 c2 02 08 00 00 00 00",
     "0a 5a 74 c2 02 08 00 00 ff ff"},
    {DIAG_PACKET_TX,
     "0a 5a 74 c2 03 08 00 00 00 00",
     "0a 5a 74 c2 03 08 00 00 ff ff"},
    {DIAG_TDM_RX,
     "0a 5a 74 c2 00 0e 00 00 00 00",
     "0a 5a 74 c2 00 0e 00 00 ff ff"},
    {DIAG_TDM_TX,
     "0a 5a 74 c2 01 0e 00 00 00 00",
     "0a 5a 74 c2 01 0e 00 00 ff ff"},
    {DIAG_SPU_IOPARAMS,
     "0a 5a 74 c2 10 10 00 00 00 00",
     "0a 5a 74 c2 10 10 00 00 ff ff"},
    {DIAG_SPU_INSTREAM,
     "0a 5a 74 c2 11 10 00 00 00 00",
     "0a 5a 74 c2 11 10 00 00 ff ff"},
    {DIAG_SPU_OUTSTREAM,
     "0a 5a 74 c2 12 10 00 00 00 00",
     "0a 5a 74 c2 12 10 00 00 ff ff"},
    {DIAG_DSP_TASK_IOPARAMS,
     "0a 5a 74 c2 13 10 00 00 00 00",
     "0a 5a 74 c2 13 10 00 00 ff ff"},
    {FC_VOIP_VOPENA,
     "16 5a 00 02 00 80 00 00 01 00 80 08 00 00 00 00 00 00 00 00 20 00",
     "16 5a 00 02 00 80 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_VOIP_VCEOPT,
     "12 5a 00 02 01 80 00 00 20 14 00 3c 04 00 00 00 01 00",
     "12 5a 00 02 01 80 00 00 ff ff 30 fc ff ff ff ff ff 07"},
    {FC_VOIP_DTMFOPT,
     "0a 00 00 02 02 80 00 00 00 00",
     "0a 00 00 02 02 80 00 00 ff 01"},
    {FC_FAX_OPTIONS,
     "0c 5a 00 02 03 80 00 00 00 03 00 00",
     "0c 5a 00 02 03 80 00 00 3b ff 00 01"},
    {FC_VOIP_DGAIN,
     "0c 5a 00 02 05 80 00 00 00 00 00 00",
     "0c 5a 00 02 05 80 00 00 ff ff ff ff"},
    {FC_VOIP_ECHOCAN,
     "0a 5a 00 02 06 80 00 00 0f 90",
     "0a 5a 00 02 06 80 00 00 df fc"},
    {FC_VOIP_TONEGEN,
     "48 5a 00 02 09 80 00 00 01 ff 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "b8 01 64 00 b8 01 64 00 00 00 00 00 00 00 00 00 b8 01 64 00 b8 01 64 00 "
     "00 00 00 00 00 00 00 00 b8 01 64 00 b8 01 64 00 00 00 00 00 00 00 00 00",
     "48 5a 00 02 09 80 00 00 ff ff ff ff ff ff ff ff ff ff 00 00 00 00 00 00 "
     "ff ff ff ff ff ff ff ff ff ff ff ff 00 00 00 00 ff ff ff ff ff ff ff ff "
     "ff ff ff ff 00 00 00 00 ff ff ff ff ff ff ff ff ff ff ff ff 00 00 00 00"},
    {FC_VOIP_TONEOFF,
     "0c 5a 00 02 14 80 00 00 00 00 00 00",
     "0c 5a 00 02 14 80 00 00 ff ff ff ff"},
    {FC_VOIP_PTMNG,
     "38 5a 00 02 18 80 00 00 0d ff ff ff 00 08 04 0f 12 02 ff 03 ff ff ff ff "
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff",
     "38 5a 00 02 18 80 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff"},
    {FC_VOIP_SENDNTE,
     "18 5a 00 02 1e 80 00 00 00 0b 01 18 00 00 00 00 00 00 00 00 00 00 40 1f",
     "18 5a 00 02 1e 80 00 00 ff ff ff ff ff 03 ff ff ff ff ff ff ff ff ff ff"},
    {FC_VOIP_DTMFDPAR,
     "16 00 00 02 21 80 00 00 1e 00 23 00 14 00 00 00 00 00 00 00 00 00",
     "16 00 00 02 21 80 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_VOIP_SET_CNG_OVER,
     "0c 00 00 02 28 80 00 00 00 00 00 00",
     "0c 00 00 02 28 80 00 00 00 00 00 00"},
    {FC_VOIP_NTENERGY_SET,
     "0c 5a 00 02 2e 80 00 00 dc 00 64 28",
     "0c 5a 00 02 2e 80 00 00 ff 81 ff ff"},
    {FC_VOIP_DTMFTUNE,
     "14 00 00 02 34 80 00 00 12 00 50 00 28 00 40 01 00 00 06 00",
     "14 00 00 02 34 80 00 00 ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_CND_ONHOOK_GEN,
     "08 5a 00 02 39 80 00 00",
     "08 5a 00 02 39 80 00 00"},
    {FC_CND_SET_PARAMS,
     "08 5a 00 02 3a 80 00 00",
     "08 5a 00 02 3a 80 00 00"},
    {FC_CND_OFFHOOK_GEN,
     "08 5a 00 02 3b 80 00 00",
     "08 5a 00 02 3b 80 00 00"},
    {FC_CND_STOP,
     "08 5a 00 02 3c 80 00 00",
     "08 5a 00 02 3c 80 00 00"},
    {FC_CIPHER_AES_OPT,
     "0a 5a 00 02 46 80 00 00 01 00",
     "0a 5a 00 02 46 80 00 00 ff ff"},
    {FC_VOIP_CNTRYCODE,
     "12 5a 00 02 5a 80 00 00 0d 00 0d 00 0d 00 0d 00 0d 00",
     "12 5a 00 02 5a 80 00 00 ff ff ff ff ff ff ff ff ff ff"},
    {FC_VOIP_TONECTRL,
     "0a 00 00 02 5b 80 00 00 00 00",
     "0a 00 00 02 5b 80 00 00 ff fb"},
    {FC_VOIP_SIGDET,
     "0a 00 00 02 5d 80 00 00 00 00",
     "0a 00 00 02 5d 80 00 00 00 38"},
    {FC_VOIP_TONEOPT,
     "0a 5a 00 02 6c 80 00 00 00 00",
     "0a 5a 00 02 6c 80 00 00 5e 00"},
    {FC_VOIP_PROGRAM_TONE_ENGINE,
     "0a 5a 00 02 6e 80 00 00 00 00",
     nullptr},
    {FC_VOIP_PROGRAM_CADENCE_ENGINE,
     "08 5a 00 02 6f 80 00 00",
     "08 5a 00 02 6f 80 00 00"},
    {FC_VOIP_INDCTRL,
     "0c 00 00 02 84 80 00 00 08 00 00 00",
     "0c 00 00 02 84 80 00 00 ff 00 ff ff"},
    {FC_VOIP_JBOPT,
     "14 00 00 02 90 80 00 00 00 00 c8 00 00 00 10 27 00 00 f4 01",
     "14 00 00 02 90 80 00 00 ff ff ff ff ff ff ff ff 09 00 ff ff"},
    {FC_EC_CONTROL,
     "0a 00 00 02 91 80 00 00 05 00",
     "0a 00 00 02 91 80 00 00 ff ff"},
    {FC_VOIP_MFTUNE,
     "16 00 00 02 9a 80 00 00 12 00 50 00 28 00 5e 01 00 00 02 00 00 00",
     "16 00 00 02 9a 80 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_VOIP_MFDPAR,
     "10 00 00 02 9b 80 00 00 23 00 23 00 23 00 00 00",
     "10 00 00 02 9b 80 00 00 ff ff ff ff ff ff 00 00"},
    {FC_VOIP_RTCP_ENA,
     "0a 5a 00 02 a0 80 00 00 00 02",
     "0a 5a 00 02 a0 80 00 00 ff 03"},
    {FC_CNDDETCTL,
     "0a 5a 00 02 b1 80 00 00 03 00",
     "0a 5a 00 02 b1 80 00 00 03 00"},
    {FC_SET_TEST_MODE,
     "0e 00 00 02 b9 80 00 00 13 00 55 00 01 00",
     "0e 00 00 02 b9 80 00 00 3f 00 ff 00 ff 7f"},
    {FC_RFC2833_DTMF_TDM_LEVEL_CTRL,
     "0a 00 00 02 fd 80 00 00 00 00",
     "0a 00 00 02 fd 80 00 00 00 00"},
    {FC_CIPHER_SRTP_OPT,
     "12 5a 00 02 00 82 00 00 12 a8 00 00 70 00 70 00 a0 28",
     "12 5a 00 02 00 82 00 00 ff ff ff 1f ff 01 ff 01 ff ff"},
    {FC_CIPHER_SRTP_KEY_DERIVATION,
     "12 5a 00 02 01 82 00 00 00 00 00 00 00 00 00 00 00 00",
     "12 5a 00 02 01 82 00 00 00 0c ff ff ff ff ff ff ff ff"},
    {FC_SET_IP_HDR_CHANNEL,
     "26 5a 00 02 00 90 00 00 00 01 45 00 00 00 00 00 40 00 80 11 00 00 aa bb "
     "cc dd 12 34 56 78 7d 00 7d 01 00 00 00 00",
     "26 5a 00 02 00 90 00 00 ff 01 ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_SET_ETH_HDR_CHAN,
     "18 5a 00 02 10 90 00 00 01 00 ff ee dd cc bb aa 66 55 44 33 22 11 08 00",
     "18 5a 00 02 10 90 00 00 01 80 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_IPDTMF_CTRL,
     "0c 00 00 02 40 90 00 00 01 00 00 00",
     "0c 00 00 02 40 90 00 00 0f 00 00 00"},
    {FC_THC_REDIRECT_RX,
     "0c 5a 00 02 00 92 00 00 ff ff 00 00",
     "0c 5a 00 02 00 92 00 00 ff ff 00 00"},
    {FC_THC_MODE_ENABLE,
     "0c 5a 00 02 01 92 00 00 00 00 00 00",
     "0c 5a 00 02 01 92 00 00 ff ff 00 00"},
    {FC_CONF_CREATE_CONFERENCE,
     "0a 5a 00 06 10 93 00 00 00 00",
     "0a 5a 00 06 10 93 00 00 00 00"},
    {FC_CONF_DESTROY_CONFERENCE,
     "0a 5a 00 06 11 93 00 00 00 00",
     "0a 5a 00 06 11 93 00 00 ff ff"},
    {FC_CONF_CREATE_PARTICIPANT,
     "0e 5a 00 06 12 93 00 00 00 00 00 00 00 00",
     "0e 5a 00 06 12 93 00 00 ff ff ff ff ff ff"},
    {FC_CONF_DESTROY_PARTICIPANT,
     "0c 5a 00 06 13 93 00 00 00 00 00 00",
     "0c 5a 00 06 13 93 00 00 ff ff ff ff"},
    {FC_CONF_MUTE_PARTICIPANT,
     "0e 5a 00 06 14 93 00 00 00 00 00 00 00 00",
     "0e 5a 00 06 14 93 00 00 ff ff ff ff 00 00"},
    {FC_CONF_PUT_PARTICIPANT_ON_HOLD,
     "10 5a 00 06 15 93 00 00 00 00 00 00 00 00 00 00",
     "10 5a 00 06 15 93 00 00 ff ff ff ff 00 00 00 00"},
    {FC_TRANS_CONNECT,
     "12 5a 00 06 22 93 00 00 01 00 00 00 00 00 00 00 00 00",
     "12 5a 00 06 22 93 00 00 0d 00 ff ff ff ff ff ff ff ff"},
    {FC_MDIO_BUS_WRITE,
     "10 5a 00 06 30 93 00 00 00 01 01 00 01 00 01 00",
     "10 5a 00 06 30 93 00 00 01 ff ff ff ff ff ff ff"},
    {FC_MDIO_BUS_READ,
     "10 5a 00 06 31 93 00 00 00 01 01 00 01 00 00 00",
     "10 5a 00 06 31 93 00 00 01 ff ff ff ff ff 00 00"},
    {FC_MDIO_START_AUTODECT,
     "10 5a 00 06 32 93 00 00 01 00 01 00 01 00 01 00",
     "10 5a 00 06 32 93 00 00 ff ff ff ff ff ff 01 00"},
    {FC_MDIO_SET_FREQ,
     "0c 5a 00 06 34 93 00 00 00 00 00 00",
     "0c 5a 00 06 34 93 00 00 ff 00 ff ff"},
    {FC_HTDMOPT,
     "0e 5a 00 02 50 93 00 00 07 00 01 00 00 01",
     "0e 5a 00 02 50 93 00 00 07 00 ff ff ff ff"},
    {FC_HTDMENA,
     "0a 5a 00 02 51 93 00 00 01 00",
     "0a 5a 00 02 51 93 00 00 ff ff"},
    {FC_MEDIAFORKING_IP_ACTIVATE,
     "0a 5a 00 02 60 93 00 00 00 00",
     "0a 5a 00 02 60 93 00 00 00 00"},
    {FC_MEDIAFORKING_SET_UDPIP_HDR,
     "26 5a 00 02 61 93 00 00 00 00 45 00 00 00 00 00 40 00 80 11 00 00 aa bb "
     "cc dd 12 34 56 78 7d 00 7d 01 00 00 00 00",
     "26 5a 00 02 61 93 00 00 01 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff "
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_MEDIAFORKING_SET_ETH_HDR,
     "18 5a 00 02 62 93 00 00 00 00 ff ee dd cc bb aa 66 55 44 33 22 11 08 00",
     "18 5a 00 02 62 93 00 00 01 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {FC_SYNCDAT,
     "08 5a 00 02 02 94 00 00",
     "08 5a 00 02 02 94 00 00"},
    {FC_SYNCEOF,
     "08 5a 00 02 03 94 00 00",
     "08 5a 00 02 03 94 00 00"},
};

constexpr int golden_index = 0x5a;

// The serialised frame of a code's default record, or with every field of the
// record set to all ones.
std::vector<uint8_t> serialise(uint16_t fc, bool ones, int *result)
{
    magic_csm m = create_default_csm_msg(fc, golden_index);
    EXPECT_FALSE(csm_msg_is_null(m)) << get_function_code_extended(fc);
    if (csm_msg_is_null(m))
        return {};
    if (ones) {
        const csm_command_layout *l = csm_find_command_layout(fc);
        memset(static_cast<char *>(m.u_raw) + sizeof(csm_header *), 0xFF,
               l->record_size - sizeof(csm_header *));
    }
    // The buffer still holds an earlier message: none of it may survive.
    uint8_t buf[CSM_FRAME_SIZE];
    memset(buf, 0xA5, sizeof buf);
    *result = msp_struct_to_buffer(m, buf);
    for (size_t i = buf[0]; i < sizeof buf; i++)
        EXPECT_EQ(buf[i], 0) << "byte " << i << " past the frame";
    std::vector<uint8_t> frame(buf, buf + buf[0]);
    delete_csm_msg(m);
    return frame;
}

TEST(CsmGolden, EveryConstructedCodeHasAnImage)
{
    size_t count = 0;
    const csm_command_layout *layouts = csm_command_layouts(&count);
    ASSERT_EQ(count, std::size(goldens));
    for (size_t i = 0; i < count; i++)
        EXPECT_EQ(layouts[i].function_code, goldens[i].function_code) << i;
}

TEST(CsmGolden, DefaultsSerialiseToTheirImage)
{
    for (const golden_image &g : goldens) {
        SCOPED_TRACE(get_function_code_extended(g.function_code));
        if (!g.defaults)
            continue;
        int result = -1;
        std::vector<uint8_t> frame = serialise(g.function_code, false, &result);
        EXPECT_EQ(bytes_hex(frame.data(), frame.size()), g.defaults);
        EXPECT_EQ(result, (int)frame.size());
    }
}

TEST(CsmGolden, AllOnesRecordsSetExactlyTheNamedBits)
{
    for (const golden_image &g : goldens) {
        SCOPED_TRACE(get_function_code_extended(g.function_code));
        int result = -1;
        std::vector<uint8_t> frame = serialise(g.function_code, true, &result);
        if (!g.ones) {
            EXPECT_EQ(result, 0);
            continue;
        }
        EXPECT_EQ(bytes_hex(frame.data(), frame.size()), g.ones);
    }
}

// Runs a shell command and returns its standard output.
std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

TEST(CsmGolden, TsharkDecodesEveryFrameToTheSameHeaderAndWords)
{
    char dir[] = "/tmp/csm_golden_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string base = dir;

    // Every frame the serialiser makes, each in an Ethernet frame of type
    // 0x889b behind the link header (opcode 1, sequence 0, little-endian
    // control, device channel 0xffff).
    std::vector<std::vector<uint8_t>> frames;
    for (const golden_image &g : goldens) {
        for (bool ones : {false, true}) {
            int result = 0;
            std::vector<uint8_t> f = serialise(g.function_code, ones, &result);
            if (result > 0)
                frames.push_back(f);
        }
    }
    {
        std::ofstream text(base + "/frames.txt");
        for (const auto &f : frames)
            text << "000000 00 11 22 33 44 55 00 aa bb cc dd ee 88 9b 00 01 00 01 ff ff "
                 << bytes_hex(f.data(), f.size()) << "\n";
    }
    std::string fields = "-e csm_encaps.length -e csm_encaps.index -e csm_encaps.type "
                         "-e csm_encaps.class -e csm_encaps.function_code";
    for (int i = 1; i <= 40; i++)
        fields += " -e csm_encaps.param" + std::to_string(i);
    fields += " -e csm_encaps.param";
    std::string out = run("text2pcap -q " + base + "/frames.txt " + base + "/frames.pcap >/dev/null 2>&1 && "
                          "tshark -r " + base + "/frames.pcap -T fields " + fields +
                          " 2>/dev/null");
    std::vector<std::string> lines = split(out, '\n');
    ASSERT_GE(lines.size(), frames.size()) << out;

    for (size_t k = 0; k < frames.size(); k++) {
        const std::vector<uint8_t> &f = frames[k];
        SCOPED_TRACE(bytes_hex(f.data(), f.size()));
        std::vector<std::string> col = split(lines[k], '\t');
        ASSERT_EQ(col.size(), 46u) << lines[k];
        EXPECT_EQ(std::stoi(col[0]), f[0]);
        EXPECT_EQ(std::stoi(col[1]), f[1]);
        EXPECT_EQ(std::stoi(col[2]), f[2]);
        EXPECT_EQ(std::stoi(col[3]), f[3]);
        EXPECT_EQ(std::stoul(col[4], nullptr, 16), (unsigned long)(f[4] | f[5] << 8));
        // The parameter words: the first forty in their own columns, the
        // rest as one list.
        std::vector<unsigned long> words;
        for (int i = 5; i < 45; i++)
            if (!col[i].empty())
                words.push_back(std::stoul(col[i], nullptr, 16));
        if (!col[45].empty())
            for (const std::string &w : split(col[45], ','))
                words.push_back(std::stoul(w, nullptr, 16));
        std::vector<unsigned long> expected;
        for (size_t at = 8; at + 1 < f.size(); at += 2)
            expected.push_back(f[at] | f[at + 1] << 8);
        EXPECT_EQ(words, expected);
    }
    run("rm -rf " + base);
}

} // namespace
