// The facility coder (ROSE components of the supplementary services in
// Facility elements) as the ISDN library uses it: the parameter record of
// one operation, and encode/decode. The coder itself belongs to the mISDN
// layer; it installs its functions with fac_coder_install. Until it has,
// nothing decodes and nothing encodes.
#pragma once
#include <cstdint>

// Operation of a parameter record: operation values of the invoke, or a
// component kind (0xFF00 + ROSE component tag) for answers.
enum FacFunction : int {
    Fac_MCID = 3,
    Fac_MLPP = 25,
    Fac_AOCDCurrency = 33,
    Fac_AOCDChargingUnit = 34,
    Fac_ReturnResult = 0xFF02,
    Fac_ReturnError = 0xFF03,
    Fac_Reject = 0xFF04,
    Fac_None = 0xFFFF
};

struct FacMLPP {
    int invokeId;
    uint8_t precLevel;
    uint8_t lfbIndication;
    uint8_t internationalID[2];
    uint8_t mlppServiceDomain[3];
};

struct FacReturnError {
    int invokeId;
    int errorValue;
};

struct FacMCID {
    int invokeId;
};

struct FacAOCDCurrency {
    int invokeId;
    int chargeNotAvailable;
    int freeOfCharge;
    char currency[11];
    int currencyAmount;
    int multiplier;
    int typeOfChargingInfo;
    int billingId;
};

struct FacAOCDChargingUnit {
    int invokeId;
    int chargeNotAvailable;
    int freeOfCharge;
    int recordedUnits;
    int typeOfChargingInfo;
    int billingId;
};

struct FacParm {
    FacFunction Function;
    union {
        FacMLPP MLPP;
        FacReturnError ReturnError;
        FacMCID MCID;
        FacAOCDCurrency AOCDcur;
        FacAOCDChargingUnit AOCDchu;
        unsigned char raw[256];  // room for the coder's other operations
    } u;
};

struct fac_coder_ops {
    // Decodes the Facility element whose length octet is at `ie` (content
    // follows) into fac; 0 when decoded.
    int (*decode)(const unsigned char *ie, FacParm *fac);
    // Encodes fac as a whole Facility element (identifier, length, content)
    // into buf of size octets; the octet count, 0 or less on failure.
    int (*encode)(unsigned char *buf, int size, const FacParm *fac);
    // Decodes the argument of activateDiversionQ from arg up to end into two
    // numbers with their types of number (a type below 0: number absent).
    int (*activation_diversion)(const unsigned char *arg, const unsigned char *end,
                                char *number1, int size1, int *type1,
                                char *number2, int size2, int *type2);
};

// Installs the coder (null: none).
void fac_coder_install(const fac_coder_ops *ops);

int fac_decode(const unsigned char *ie, FacParm *fac);
int fac_encode(unsigned char *buf, int size, const FacParm *fac);
int fac_activation_diversion(const unsigned char *arg, const unsigned char *end,
                             char *number1, int size1, int *type1,
                             char *number2, int size2, int *type2);

// BER length at p (p < end): the number of length octets, *len the length;
// 0 when the length runs past end or is indefinite or longer than 2 octets.
int fac_parse_len(const unsigned char *p, const unsigned char *end, int *len);
