// Facility coder for supplementary services: the ROSE components (invoke,
// return result, return error, reject) of a Q.932 Facility information
// element in ASN.1 BER, for the ETSI operations the gateway uses, and the
// argument of QSIG activateDiversionQ.
#pragma once
#include <cstdint>

typedef enum FacFunction {
    Fac_MCID = 3,                      // malicious call identification request
    Fac_ECTExecute = 6,                // explicit call transfer
    Fac_CFActivate = 7,                // activationDiversion
    Fac_CFDeactivate = 8,              // deactivationDiversion
    Fac_CFInterrogateParameters = 11,  // interrogationDiversion
    Fac_CD = 13,                       // callDeflection
    Fac_CRerouting = 14,               // callRerouting
    Fac_CFInterrogateNumbers = 17,     // interrogateServedUserNumbers
    Fac_MLPP = 25,
    Fac_AOCDCurrency = 33,
    Fac_AOCDChargingUnit = 34,
    Fac_ReturnResult = 0xFF02,
    Fac_ReturnError = 0xFF03,
    Fac_Reject = 0xFF04,
    Fac_None = 0xFFFF,
} FacFunction;

// Type of number -1 means "unknown party number" (digits without a type),
// both when encoding and as decoded.
struct FacCDeflection {
    int invokeId;
    int PresentationAllowed;  // -1: not sent
    char DeflectedToNumber[32];
    int Ton;
};

struct FacCRerouting {
    int invokeId;
    char Reason[16];                 // "cfu", "cfb", "cfnr", "cdalerting", "cdimmediate" or a number
    char DeflectedFromNumber[32];    // last rerouting number
    char DeflectedToSubaddress[32];  // the number the call is rerouted to
    int Ton;
};

struct FacAOCDCurrency {
    int invokeId;
    int chargeNotAvailable;
    int freeOfCharge;
    char Currency[11];
    int CurrencyAmount;
    int Multiplier;         // 0 one thousandth .. 6 thousand (ETS 300 182)
    int typeOfChargingInfo; // 0 subtotal, 1 total
};

struct FacAOCDChargingUnit {
    int invokeId;
    int chargeNotAvailable;
    int freeOfCharge;
    int recordedUnits;
    int typeOfChargingInfo;
};

struct FacInvokeOnly {
    int invokeId;
};

struct FacCFActivate {
    int invokeId;
    int Procedure;      // 0 cfu, 1 cfb, 2 cfnr
    int BasicService;   // 0 all services
    int NoReplyTimer;   // not coded by ETSI activation; kept for the caller
    char ServedUserNumber[32];  // empty: all numbers
    char ForwardedToNumber[32];
    int ForwardedToTon;
};

struct FacCFDeactivate {
    int invokeId;
    int Procedure;
    int BasicService;
    char ServedUserNumber[32];
    int ServedUserTon;
};

struct FacMLPPParm {
    int invokeId;
    int precLevel;
    int lfbIndication;
    uint8_t internationalID[2];
    uint8_t mlppServiceDomain[3];
};

struct FacReturnResult {
    int invokeId;
    int operationValue;  // -1 when the result carries none
};

struct FacReturnError {
    int invokeId;
    int errorValue;
};

struct FacReject {
    int invokeId;     // -1 when the reject names no invoke
    int problemTag;   // 0 general, 1 invoke, 2 return result, 3 return error
    int problem;
};

typedef struct FacParm {
    FacFunction Function;
    union {
        FacCDeflection CDeflection;
        FacCRerouting CRerouting;
        FacAOCDCurrency AOCDcur;
        FacAOCDChargingUnit AOCDchu;
        FacInvokeOnly MCID;
        FacInvokeOnly ECTExecute;
        FacInvokeOnly CFInterrogateNumbers;
        FacCFActivate CFActivate;
        FacCFDeactivate CFDeactivate;
        FacCFDeactivate CFInterrogateParameters;
        FacMLPPParm MLPP;
        FacReturnResult ReturnResult;
        FacReturnError ReturnError;
        FacReject Reject;
    } u;
} FacParm;

enum { FAC_IE_MAX = 256 };

// Encodes fac as a complete Facility IE (identifier 0x1C, length, protocol
// profile 0x91, component) into dest (FAC_IE_MAX octets); its length, or -1
// for a function that cannot be coded or a text that does not fit.
int encodeFac(uint8_t *dest, const FacParm *fac);

// Decodes a Facility IE given by its length octet (content follows) into
// fac; 0 when one component was understood, -1 otherwise (fac->Function is
// then Fac_None).
int decodeFac(const uint8_t *ie, FacParm *fac);

// One entry of the result of an interrogation: a forwarding of
// interrogationDiversion, or a number of interrogateServedUserNumbers (then
// only ServedUserNumber and ServedUserTon are set).
struct FacInterrogationEntry {
    char ServedUserNumber[32];  // empty: all numbers
    int ServedUserTon;          // -1: unknown party number
    int Procedure;              // 0 cfu, 1 cfb, 2 cfnr
    int BasicService;
    char ForwardedToNumber[32];
    int ForwardedToTon;
};

// Decodes the return result of interrogationDiversion or
// interrogateServedUserNumbers in a Facility IE (given by its length octet)
// into at most max entries, and its operation value into *operation. The
// number of entries the result lists (more than max when some did not fit),
// or -1 when the IE holds no such result or it is malformed.
int decodeFacInterrogationResult(const uint8_t *ie, int *operation, FacInterrogationEntry *entries, int max);

// Reads a BER length at p (not past end): the number of length octets, or
// -1 when it is malformed or runs past end. *len is -1 for the indefinite form.
int ParseLen(const uint8_t *p, const uint8_t *end, int *len);

// Work area of the QSIG argument parser.
struct asn1_parm {
    int procedure;
    int basicService;
};

// Decodes the argument of QSIG activateDiversionQ (ECMA-174), starting at p
// and ending before end, into the diverted-to number (num1) and the served
// user's number (num2) with their types of number; a type left at -1 means
// that number is absent. 0 when the argument was understood, -1 otherwise.
int manualParseActivationDiversionQ(struct asn1_parm *pc, const uint8_t *p, const uint8_t *end,
                                    char *num1, int num1size, int *ton1,
                                    char *num2, int num2size, int *ton2);
