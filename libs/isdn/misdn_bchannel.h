// One ISDN call on one B-channel: its identity, channel, numbers, the
// information elements of the last message in both directions and the
// state the library keeps for it. The application reads port and channel
// and writes pid; everything else belongs to the library.
//
// The record is plain data: the library zeroes it with memset and copies it
// as a whole; text fields keep their widths and every write into them is
// bounded.
#pragma once
#include <pthread.h>
#include <cstdint>
#include <ctime>

#include "bc_ie_facilities.h"
#include "fac_coder.h"
#include "isdn_lib_types.h"

struct misdn_bchannel_meta_info;  // B-stack identity of one timeslot
struct ibuffer;                   // audio ring buffer

enum {
    BC_OUTFAC_COUNT = 8,          // outgoing facility contents per message
    BC_FAC_LEN = 256,             // octets of one facility content
    BC_BEARER_LEN = 32,
    BC_SUBADDRESS_LEN = 256,
    BC_UU_LEN = 256,
    BC_UU_COPY_MAX = 128,         // user data octets taken from a received IE
    BC_LLC_HLC_LEN = 16,
    BC_DISPLAY_LEN = 84,
    BC_NUMBER_LEN = 32,
    BC_LONG_NUMBER_LEN = 64,
    BC_QSIG_NAME_LEN = 50,
    BC_EVENT_QUEUE_LEN = 256,
    BC_PIPELINE_LEN = 128
};

struct misdn_bchannel {
    // locking and history
    pthread_mutex_t send_lock;
    misdn_bchannel_meta_info *meta;
    char event_queue[BC_EVENT_QUEUE_LEN];
    int phc_queue_c1;
    int phc_queue_c2;

    // identity
    int nt;
    int port;
    int need_disconnect;
    int need_release;
    int need_release_complete;
    int dec;
    int l3_id;
    int pid;
    int tarn_pid;
    int ces;
    int restart_channel;

    // channel
    int channel;              // 0 none, 255 any
    int channel_preselected;
    int exclusive;
    int channel_id_encoded;
    int in_use;
    int cw;

    // audio buffers
    void *bframe;
    int bframe_len;
    int time_usec;
    ibuffer *astbuf;
    ibuffer *misdnbuf;
    int te_choose_channel;
    int early_bconnect;
    int dtmf;
    int send_dtmf;
    int need_more_infos;
    int sending_complete;
    int nodsp;
    int nojitter;

    // numbers: called (d), redirecting (r), calling (o), connected (c), second calling (o2)
    mISDN_NUMBER_TYPE dton;
    mISDN_NUMBER_TYPE rton;
    mISDN_NUMBER_TYPE oton;
    mISDN_NUMBER_TYPE cton;
    mISDN_NUMBER_TYPE o2ton;
    mISDN_NUMBER_PLAN dnpi;
    mISDN_NUMBER_PLAN rnpi;
    mISDN_NUMBER_PLAN onpi;
    mISDN_NUMBER_PLAN cnpi;
    mISDN_NUMBER_PLAN o2npi;
    int progress_coding;
    int progress_location;
    int progress_indicator;

    // facility buffers
    unsigned char pre_outfac[BC_FAC_LEN];
    int pre_outfac_len;
    unsigned char outfac[BC_OUTFAC_COUNT][BC_FAC_LEN];
    int outfac_len[BC_OUTFAC_COUNT];
    int outfac_len_stored[BC_OUTFAC_COUNT];
    unsigned char infac[BC_FAC_LEN];
    int infac_len;
    unsigned char in_bearer_buf[BC_BEARER_LEN];
    int in_bearer_buf_len;
    unsigned char out_bearer_buf[BC_BEARER_LEN];
    int out_bearer_buf_len;
    unsigned char calling_subaddress[BC_SUBADDRESS_LEN];
    int calling_subaddress_len;
    unsigned char called_subaddress[BC_SUBADDRESS_LEN];
    int called_subaddress_len;
    FacParm fac_in;
    FacParm fac_out;
    FacFunction AOCDtype;
    union {
        FacAOCDCurrency currency;
        FacAOCDChargingUnit chargingUnit;
    } AOCD;
    int AOCD_need_export;

    // call state
    event_e evq;
    int crypt;
    int curprx;
    int curptx;
    int crypt_state;
    int active;
    int upset;
    int generate_tone;
    int tone_cnt;
    bchannel_state bc_state;
    bchannel_state next_bc_state;
    int conf_id;
    int holded;
    int stack_holder;

    // presentation and bearer
    int pres;
    int screen;
    int o2pres;
    int o2screen;
    int rscreen;
    int rpres;
    int cscreen;
    int cpres;
    int capability;
    int law;
    int rate;
    int mode;
    int user1;
    int urate;
    int hdlc;

    // number texts
    char display[BC_DISPLAY_LEN];
    char userusername[BC_DISPLAY_LEN];
    char msn[BC_NUMBER_LEN];
    char oad[BC_NUMBER_LEN];
    char oad2[BC_NUMBER_LEN];
    char rad[BC_NUMBER_LEN];
    char dad[BC_NUMBER_LEN];
    char cad[BC_NUMBER_LEN];
    char orig_dad[BC_NUMBER_LEN];
    char keypad[BC_NUMBER_LEN];
    char info_dad[BC_LONG_NUMBER_LEN];
    char infos_pending[BC_LONG_NUMBER_LEN];
    char activersionDivQNumber1[BC_LONG_NUMBER_LEN];
    char activersionDivQNumber2[BC_LONG_NUMBER_LEN];
    int activersionDivQNumber1_ton;
    int activersionDivQNumber2_ton;

    // QSIG and user data
    int use_complete_dialing_pound_star;
    int use_qsig;
    int use_qsig_network_extension;
    int use_qsig_iso;
    int reject_unknown_facility;
    char qsig_local_name[BC_QSIG_NAME_LEN];   // read up to its full width
    unsigned char qsig_local_name_pres;       // 0 restricted, else allowed
    char qsig_remote_name[BC_QSIG_NAME_LEN];  // always terminated
    unsigned char qsig_remote_name_pres;
    unsigned char uu[BC_UU_LEN];
    int uulen;
    int uulen_stored;
    unsigned char uu_protocol;
    unsigned char hlc[BC_LLC_HLC_LEN];
    int hlclen;
    unsigned char llc[BC_LLC_HLC_LEN];
    int llclen;

    // clearing
    int cause;      // received
    int out_cause;  // to send

    // media
    char pipeline[BC_PIPELINE_LEN];
    int orig;
    int txgain;
    int rxgain;

    // tail
    bc_ie_facilities ie_facilities;
    struct tm tm;   // the date/time IE last received
    misdn_bchannel *next;
    bearer_cap_ie bearer_info;
    int unassociated;
};
