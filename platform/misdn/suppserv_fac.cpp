// ROSE components of the Facility IE (ETSI operations, ETS 300 196 ff.).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "suppserv.h"
#include "suppserv_ber.h"

namespace {

enum : uint8_t {
    T_BOOLEAN = 0x01,
    T_INTEGER = 0x02,
    T_OCTETS = 0x04,
    T_NULL = 0x05,
    T_ENUM = 0x0A,
    T_NUMERIC = 0x12,
    T_SEQUENCE = 0x30,
    T_Q931_IE = 0x40,   // [APPLICATION 0] IMPLICIT OCTET STRING
    C_INVOKE = 0xA1,
    C_RESULT = 0xA2,
    C_ERROR = 0xA3,
    C_REJECT = 0xA4,
    PROFILE_ROSE = 0x91,
    IE_FACILITY = 0x1C,
};

const char *const reasons[] = {"unknown", "cfu", "cfb", "cfnr", "cdalerting", "cdimmediate"};

int reason_code(const char *text)
{
    if (text[0] >= '0' && text[0] <= '9')
        return atoi(text) & 0x7F;
    for (int i = 0; i < (int)(sizeof reasons / sizeof reasons[0]); i++)
        if (strcmp(text, reasons[i]) == 0)
            return i;
    return 0;
}

// ---- encoding ----

void put_party_number(ber_out &o, const char *digits, size_t max, int ton)
{
    if (ton < 0) {
        o.put_text(0x80, digits, max);  // unknownPartyNumber
        return;
    }
    size_t m = o.open(0xA1);  // publicPartyNumber
    o.put_int(T_ENUM, ton & 0x07);
    o.put_text(T_NUMERIC, digits, max);
    o.close(m);
}

void put_address(ber_out &o, const char *digits, size_t max, int ton)
{
    size_t m = o.open(T_SEQUENCE);
    put_party_number(o, digits, max, ton);
    o.close(m);
}

void put_served_user(ber_out &o, const char *digits, size_t max, int ton)
{
    if (!digits[0])
        o.put_null(T_NULL);  // allNumbers
    else
        put_party_number(o, digits, max, ton);
}

// The two AOC arguments that carry no amount; true when one was written.
bool put_aoc_without_amount(ber_out &o, int not_available, int free)
{
    if (not_available)
        o.put_null(T_NULL);  // chargeNotAvailable
    else if (free)
        o.put_null(0x81);    // freeOfCharge
    return not_available || free;
}

// Argument of an invoke; false when the function has no coding here.
bool put_argument(ber_out &o, const FacParm *f)
{
    switch (f->Function) {
    case Fac_MCID:
    case Fac_ECTExecute:
    case Fac_CFInterrogateNumbers:
        return true;
    case Fac_CD: {
        const FacCDeflection &c = f->u.CDeflection;
        size_t m = o.open(T_SEQUENCE);
        put_address(o, c.DeflectedToNumber, sizeof c.DeflectedToNumber, c.Ton);
        if (c.PresentationAllowed >= 0) {
            uint8_t v = c.PresentationAllowed ? 0xFF : 0x00;
            o.put_octets(T_BOOLEAN, &v, 1);
        }
        o.close(m);
        return true;
    }
    case Fac_CRerouting: {
        const FacCRerouting &c = f->u.CRerouting;
        char reason[sizeof c.Reason + 1];
        snprintf(reason, sizeof reason, "%.*s", (int)sizeof c.Reason, c.Reason);
        size_t m = o.open(T_SEQUENCE);
        o.put_int(T_ENUM, reason_code(reason));
        put_address(o, c.DeflectedToSubaddress, sizeof c.DeflectedToSubaddress, c.Ton);
        o.put_int(T_INTEGER, 1);  // rerouting counter
        static const uint8_t bearer_speech[] = {0x04, 0x03, 0x80, 0x90, 0xA3};
        o.put_octets(T_Q931_IE, bearer_speech, sizeof bearer_speech);
        size_t last = o.open(0xA1);          // lastReroutingNr
        size_t allowed = o.open(0xA0);       // presentationAllowedNumber
        put_party_number(o, c.DeflectedFromNumber, sizeof c.DeflectedFromNumber, -1);
        o.close(allowed);
        o.close(last);
        o.close(m);
        return true;
    }
    case Fac_AOCDCurrency: {
        const FacAOCDCurrency &c = f->u.AOCDcur;
        if (put_aoc_without_amount(o, c.chargeNotAvailable, c.freeOfCharge))
            return true;
        size_t spec = o.open(T_SEQUENCE);  // specificCurrency
        size_t rec = o.open(0xA1);
        o.put_text(0x81, c.Currency, sizeof c.Currency);
        size_t amount = o.open(0xA2);
        o.put_int(0x81, c.CurrencyAmount);
        o.put_int(0x82, c.Multiplier);
        o.close(amount);
        o.close(rec);
        o.put_int(0x82, c.typeOfChargingInfo);
        o.close(spec);
        return true;
    }
    case Fac_AOCDChargingUnit: {
        const FacAOCDChargingUnit &c = f->u.AOCDchu;
        if (put_aoc_without_amount(o, c.chargeNotAvailable, c.freeOfCharge))
            return true;
        size_t spec = o.open(T_SEQUENCE);  // specificChargingUnits
        size_t list = o.open(0xA1);
        size_t units = o.open(T_SEQUENCE);
        o.put_int(T_INTEGER, c.recordedUnits);
        o.close(units);
        o.close(list);
        o.put_int(0x82, c.typeOfChargingInfo);
        o.close(spec);
        return true;
    }
    case Fac_CFActivate: {
        const FacCFActivate &c = f->u.CFActivate;
        size_t m = o.open(T_SEQUENCE);
        o.put_int(T_ENUM, c.Procedure);
        o.put_int(T_ENUM, c.BasicService);
        put_address(o, c.ForwardedToNumber, sizeof c.ForwardedToNumber, c.ForwardedToTon);
        put_served_user(o, c.ServedUserNumber, sizeof c.ServedUserNumber, -1);
        o.close(m);
        return true;
    }
    case Fac_CFDeactivate:
    case Fac_CFInterrogateParameters: {
        const FacCFDeactivate &c = f->Function == Fac_CFDeactivate ? f->u.CFDeactivate
                                                                   : f->u.CFInterrogateParameters;
        size_t m = o.open(T_SEQUENCE);
        o.put_int(T_ENUM, c.Procedure);
        o.put_int(T_ENUM, c.BasicService);
        put_served_user(o, c.ServedUserNumber, sizeof c.ServedUserNumber, c.ServedUserTon);
        o.close(m);
        return true;
    }
    case Fac_MLPP: {
        const FacMLPPParm &c = f->u.MLPP;
        size_t m = o.open(T_SEQUENCE);
        o.put_int(T_ENUM, c.precLevel & 0x7F);
        o.put_int(T_ENUM, c.lfbIndication & 0x7F);
        uint8_t d[5] = {c.internationalID[0], c.internationalID[1], c.mlppServiceDomain[0],
                        c.mlppServiceDomain[1], c.mlppServiceDomain[2]};
        o.put_octets(T_OCTETS, d, sizeof d);
        o.close(m);
        return true;
    }
    default:
        return false;
    }
}

int invoke_id_of(const FacParm *f)
{
    switch (f->Function) {
    case Fac_CD: return f->u.CDeflection.invokeId;
    case Fac_CRerouting: return f->u.CRerouting.invokeId;
    case Fac_AOCDCurrency: return f->u.AOCDcur.invokeId;
    case Fac_AOCDChargingUnit: return f->u.AOCDchu.invokeId;
    case Fac_MCID: return f->u.MCID.invokeId;
    case Fac_ECTExecute: return f->u.ECTExecute.invokeId;
    case Fac_CFInterrogateNumbers: return f->u.CFInterrogateNumbers.invokeId;
    case Fac_CFActivate: return f->u.CFActivate.invokeId;
    case Fac_CFDeactivate: return f->u.CFDeactivate.invokeId;
    case Fac_CFInterrogateParameters: return f->u.CFInterrogateParameters.invokeId;
    case Fac_MLPP: return f->u.MLPP.invokeId;
    default: return 0;
    }
}

// ---- decoding ----

int get_party_number(ber_in *in, char *digits, int size, int *ton)
{
    uint8_t tag;
    ber_in c;
    if (ber_next(in, &tag, &c) < 0)
        return -1;
    *ton = -1;  // a number without a type of number
    switch (tag) {
    case 0x80:  // unknown
    case 0x83:  // data
    case 0x84:  // telex
    case 0x88:  // national standard
        ber_text(c, digits, size);
        return 0;
    case 0xA1:  // public
    case 0xA5: {  // private
        ber_in e, d;
        if (ber_expect(&c, T_ENUM, &e) < 0 || ber_int(e, ton) < 0 || ber_expect(&c, T_NUMERIC, &d) < 0)
            return -1;
        ber_text(d, digits, size);
        return 0;
    }
    default:
        return -1;
    }
}

int get_address(ber_in *in, char *digits, int size, int *ton)
{
    ber_in seq;
    if (ber_expect(in, T_SEQUENCE, &seq) < 0)
        return -1;
    return get_party_number(&seq, digits, size, ton);  // a subaddress after it is not used
}

int get_served_user(ber_in *in, char *digits, int size, int *ton)
{
    ber_in n;
    if (ber_expect(in, T_NULL, &n) == 0) {
        digits[0] = 0;
        *ton = -1;
        return 0;
    }
    return get_party_number(in, digits, size, ton);
}

int get_enum(ber_in *in, int *v)
{
    ber_in c;
    return ber_expect(in, T_ENUM, &c) < 0 ? -1 : ber_int(c, v);
}

int get_tagged_int(ber_in *in, uint8_t tag, int *v)
{
    ber_in c;
    return ber_expect(in, tag, &c) < 0 ? -1 : ber_int(c, v);
}

int decode_argument(int op, ber_in *arg, FacParm *f, int invoke)
{
    switch (op) {
    case Fac_MCID:
    case Fac_ECTExecute:
    case Fac_CFInterrogateNumbers:
        f->u.MCID.invokeId = invoke;
        return 0;
    case Fac_CD: {
        FacCDeflection &c = f->u.CDeflection;
        c.invokeId = invoke;
        c.PresentationAllowed = -1;
        ber_in seq, b;
        if (ber_expect(arg, T_SEQUENCE, &seq) < 0 ||
            get_address(&seq, c.DeflectedToNumber, sizeof c.DeflectedToNumber, &c.Ton) < 0)
            return -1;
        if (ber_expect(&seq, T_BOOLEAN, &b) == 0 && b.end - b.p == 1)
            c.PresentationAllowed = b.p[0] ? 1 : 0;
        return 0;
    }
    case Fac_CRerouting: {
        FacCRerouting &c = f->u.CRerouting;
        c.invokeId = invoke;
        ber_in seq, x;
        int reason, counter;
        if (ber_expect(arg, T_SEQUENCE, &seq) < 0 || get_enum(&seq, &reason) < 0 ||
            get_address(&seq, c.DeflectedToSubaddress, sizeof c.DeflectedToSubaddress, &c.Ton) < 0 ||
            get_tagged_int(&seq, T_INTEGER, &counter) < 0 || ber_expect(&seq, T_Q931_IE, &x) < 0)
            return -1;
        if (reason >= 0 && reason < (int)(sizeof reasons / sizeof reasons[0]))
            snprintf(c.Reason, sizeof c.Reason, "%s", reasons[reason]);
        else
            snprintf(c.Reason, sizeof c.Reason, "%d", reason);
        ber_in last, inner;
        uint8_t tag;
        if (ber_expect(&seq, 0xA1, &last) == 0 && ber_next(&last, &tag, &inner) == 0 &&
            (tag == 0xA0 || tag == 0xA3)) {
            int ton;
            if (get_party_number(&inner, c.DeflectedFromNumber, sizeof c.DeflectedFromNumber, &ton) < 0)
                return -1;
        }
        return 0;
    }
    case Fac_AOCDCurrency:
    case Fac_AOCDChargingUnit: {
        bool cur = op == Fac_AOCDCurrency;
        FacAOCDCurrency &a = f->u.AOCDcur;
        FacAOCDChargingUnit &u = f->u.AOCDchu;
        if (cur)
            a.invokeId = invoke;
        else
            u.invokeId = invoke;
        ber_in spec, n;
        if (ber_expect(arg, T_NULL, &n) == 0) {
            (cur ? a.chargeNotAvailable : u.chargeNotAvailable) = 1;
            return 0;
        }
        if (ber_expect(arg, 0x81, &n) == 0) {
            (cur ? a.freeOfCharge : u.freeOfCharge) = 1;
            return 0;
        }
        if (ber_expect(arg, T_SEQUENCE, &spec) < 0)
            return -1;
        ber_in rec;
        if (ber_expect(&spec, 0xA1, &rec) < 0)
            return -1;
        if (cur) {
            ber_in text, amount;
            if (ber_expect(&rec, 0x81, &text) < 0 || ber_expect(&rec, 0xA2, &amount) < 0 ||
                get_tagged_int(&amount, 0x81, &a.CurrencyAmount) < 0 ||
                get_tagged_int(&amount, 0x82, &a.Multiplier) < 0 ||
                get_tagged_int(&spec, 0x82, &a.typeOfChargingInfo) < 0)
                return -1;
            ber_text(text, a.Currency, sizeof a.Currency);
        } else {
            ber_in units, v;
            if (ber_expect(&rec, T_SEQUENCE, &units) < 0)
                return -1;
            if (ber_expect(&units, T_INTEGER, &v) == 0) {
                if (ber_int(v, &u.recordedUnits) < 0)
                    return -1;
            } else if (ber_expect(&units, T_NULL, &v) < 0) {
                return -1;
            }
            if (get_tagged_int(&spec, 0x82, &u.typeOfChargingInfo) < 0)
                return -1;
        }
        return 0;
    }
    case Fac_CFActivate: {
        FacCFActivate &c = f->u.CFActivate;
        c.invokeId = invoke;
        ber_in seq;
        int ton;
        if (ber_expect(arg, T_SEQUENCE, &seq) < 0 || get_enum(&seq, &c.Procedure) < 0 ||
            get_enum(&seq, &c.BasicService) < 0 ||
            get_address(&seq, c.ForwardedToNumber, sizeof c.ForwardedToNumber, &c.ForwardedToTon) < 0 ||
            get_served_user(&seq, c.ServedUserNumber, sizeof c.ServedUserNumber, &ton) < 0)
            return -1;
        return 0;
    }
    case Fac_CFDeactivate:
    case Fac_CFInterrogateParameters: {
        FacCFDeactivate &c = op == Fac_CFDeactivate ? f->u.CFDeactivate : f->u.CFInterrogateParameters;
        c.invokeId = invoke;
        ber_in seq;
        if (ber_expect(arg, T_SEQUENCE, &seq) < 0 || get_enum(&seq, &c.Procedure) < 0)
            return -1;
        if (get_enum(&seq, &c.BasicService) < 0)
            c.BasicService = 0;
        return get_served_user(&seq, c.ServedUserNumber, sizeof c.ServedUserNumber, &c.ServedUserTon);
    }
    case Fac_MLPP: {
        FacMLPPParm &c = f->u.MLPP;
        c.invokeId = invoke;
        ber_in seq, d;
        if (ber_expect(arg, T_SEQUENCE, &seq) < 0 || get_enum(&seq, &c.precLevel) < 0 ||
            get_enum(&seq, &c.lfbIndication) < 0 || ber_expect(&seq, T_OCTETS, &d) < 0 || d.end - d.p != 5)
            return -1;
        memcpy(c.internationalID, d.p, 2);
        memcpy(c.mlppServiceDomain, d.p + 2, 3);
        return 0;
    }
    default:
        return -1;
    }
}

bool known_operation(int op)
{
    switch (op) {
    case Fac_MCID: case Fac_ECTExecute: case Fac_CFActivate: case Fac_CFDeactivate:
    case Fac_CFInterrogateParameters: case Fac_CD: case Fac_CRerouting:
    case Fac_CFInterrogateNumbers: case Fac_MLPP: case Fac_AOCDCurrency: case Fac_AOCDChargingUnit:
        return true;
    default:
        return false;
    }
}

int decode_component(ber_in *in, FacParm *f)
{
    uint8_t tag;
    ber_in comp, x;
    if (ber_next(in, &tag, &comp) < 0)
        return -1;
    int invoke = -1;
    switch (tag) {
    case C_INVOKE: {
        int op;
        if (get_tagged_int(&comp, T_INTEGER, &invoke) < 0)
            return -1;
        ber_expect(&comp, 0x80, &x);  // linked id
        if (get_tagged_int(&comp, T_INTEGER, &op) < 0 || !known_operation(op))
            return -1;
        if (decode_argument(op, &comp, f, invoke) < 0)
            return -1;
        f->Function = (FacFunction)op;
        return 0;
    }
    case C_RESULT: {
        if (get_tagged_int(&comp, T_INTEGER, &invoke) < 0)
            return -1;
        f->u.ReturnResult.invokeId = invoke;
        f->u.ReturnResult.operationValue = -1;
        ber_in seq;
        int op;
        if (ber_expect(&comp, T_SEQUENCE, &seq) == 0 && get_tagged_int(&seq, T_INTEGER, &op) == 0)
            f->u.ReturnResult.operationValue = op;
        f->Function = Fac_ReturnResult;
        return 0;
    }
    case C_ERROR: {
        int err;
        if (get_tagged_int(&comp, T_INTEGER, &invoke) < 0 || get_tagged_int(&comp, T_INTEGER, &err) < 0)
            return -1;
        f->u.ReturnError.invokeId = invoke;
        f->u.ReturnError.errorValue = err;
        f->Function = Fac_ReturnError;
        return 0;
    }
    case C_REJECT: {
        if (get_tagged_int(&comp, T_INTEGER, &invoke) < 0 && ber_expect(&comp, T_NULL, &x) < 0)
            return -1;
        uint8_t ptag;
        ber_in p;
        int problem;
        if (ber_next(&comp, &ptag, &p) < 0 || ptag < 0x80 || ptag > 0x83 || ber_int(p, &problem) < 0)
            return -1;
        f->u.Reject.invokeId = invoke;
        f->u.Reject.problemTag = ptag - 0x80;
        f->u.Reject.problem = problem;
        f->Function = Fac_Reject;
        return 0;
    }
    default:
        return -1;
    }
}

// The components of a Facility IE given by its length octet: after the
// protocol profile and what may stand before the first component; -1 when
// the profile is not one of remote operations.
int components_of(const uint8_t *ie, ber_in *in)
{
    int len = ie[0];
    *in = ber_in{ie + 1, ie + 1 + len};
    // protocol profile: remote operations (0x91) or networking extensions (0x9F)
    if (len < 1 || (in->p[0] != 0x91 && in->p[0] != 0x9F))
        return -1;
    in->p++;
    // skip a network facility extension, network protocol profile and interpretation
    for (int guard = 0; guard < 8 && !in->empty(); guard++) {
        uint8_t t = in->p[0];
        if (t != 0xAA && t != 0x92 && t != 0x8B)
            break;
        uint8_t tag;
        ber_in skip;
        if (ber_next(in, &tag, &skip) < 0)
            return -1;
    }
    return 0;
}

// One IntResult of interrogationDiversion.
int get_int_result(ber_in *list, FacInterrogationEntry *e)
{
    ber_in seq;
    if (ber_expect(list, T_SEQUENCE, &seq) < 0 ||
        get_served_user(&seq, e->ServedUserNumber, sizeof e->ServedUserNumber, &e->ServedUserTon) < 0 ||
        get_enum(&seq, &e->BasicService) < 0 || get_enum(&seq, &e->Procedure) < 0 ||
        get_address(&seq, e->ForwardedToNumber, sizeof e->ForwardedToNumber, &e->ForwardedToTon) < 0)
        return -1;
    return 0;
}

}  // namespace

int encodeFac(uint8_t *dest, const FacParm *fac)
{
    if (!dest || !fac)
        return -1;
    ber_out o;
    o.b.push_back(IE_FACILITY);
    size_t ie = o.b.size();
    o.b.push_back(0);
    o.b.push_back(PROFILE_ROSE);
    switch (fac->Function) {
    case Fac_ReturnResult: {
        size_t m = o.open(C_RESULT);
        o.put_int(T_INTEGER, fac->u.ReturnResult.invokeId);
        o.close(m);
        break;
    }
    case Fac_ReturnError: {
        size_t m = o.open(C_ERROR);
        o.put_int(T_INTEGER, fac->u.ReturnError.invokeId);
        o.put_int(T_INTEGER, fac->u.ReturnError.errorValue);
        o.close(m);
        break;
    }
    case Fac_Reject: {
        size_t m = o.open(C_REJECT);
        if (fac->u.Reject.invokeId < 0)
            o.put_null(T_NULL);
        else
            o.put_int(T_INTEGER, fac->u.Reject.invokeId);
        o.put_int((uint8_t)(0x80 | (fac->u.Reject.problemTag & 3)), fac->u.Reject.problem);
        o.close(m);
        break;
    }
    default: {
        size_t m = o.open(C_INVOKE);
        o.put_int(T_INTEGER, invoke_id_of(fac));
        o.put_int(T_INTEGER, fac->Function);
        if (!put_argument(o, fac))
            return -1;
        o.close(m);
        break;
    }
    }
    size_t len = o.b.size() - ie - 1;
    if (len > 255 || o.b.size() > FAC_IE_MAX)
        return -1;  // the Facility IE has a one-octet length
    o.b[ie] = (uint8_t)len;
    memcpy(dest, o.b.data(), o.b.size());
    return (int)o.b.size();
}


int decodeFacInterrogationResult(const uint8_t *ie, int *operation, FacInterrogationEntry *entries, int max)
{
    if (!ie || !operation || (max > 0 && !entries))
        return -1;
    *operation = -1;
    ber_in in, comp, seq, list;
    int invoke, op;
    if (components_of(ie, &in) < 0 || ber_expect(&in, C_RESULT, &comp) < 0 ||
        get_tagged_int(&comp, T_INTEGER, &invoke) < 0 || ber_expect(&comp, T_SEQUENCE, &seq) < 0 ||
        get_tagged_int(&seq, T_INTEGER, &op) < 0 ||
        (op != Fac_CFInterrogateParameters && op != Fac_CFInterrogateNumbers))
        return -1;
    *operation = op;
    if (seq.empty())
        return 0;  // a result without its list lists nothing
    if (ber_expect(&seq, 0x31, &list) < 0)  // SET OF
        return -1;
    int n = 0;
    for (; !list.empty(); n++) {
        FacInterrogationEntry scratch;
        FacInterrogationEntry *e = n < max ? &entries[n] : &scratch;
        memset(e, 0, sizeof *e);
        int r = op == Fac_CFInterrogateParameters
                    ? get_int_result(&list, e)
                    : get_party_number(&list, e->ServedUserNumber, sizeof e->ServedUserNumber, &e->ServedUserTon);
        if (r < 0)
            return -1;
    }
    return n;
}

int decodeFac(const uint8_t *ie, FacParm *fac)
{
    if (!ie || !fac)
        return -1;
    fac->Function = Fac_None;
    memset(&fac->u, 0, sizeof fac->u);
    ber_in in;
    if (components_of(ie, &in) < 0)
        return -1;
    FacParm tmp;
    tmp.Function = Fac_None;
    memset(&tmp.u, 0, sizeof tmp.u);
    if (decode_component(&in, &tmp) < 0)
        return -1;
    *fac = tmp;
    return 0;
}

int manualParseActivationDiversionQ(struct asn1_parm *pc, const uint8_t *p, const uint8_t *end,
                                    char *num1, int num1size, int *ton1,
                                    char *num2, int num2size, int *ton2)
{
    if (ton1)
        *ton1 = -1;
    if (ton2)
        *ton2 = -1;
    if (!p || !end || p >= end || !num1 || !num2 || num1size <= 0 || num2size <= 0 || !ton1 || !ton2)
        return -1;
    num1[0] = num2[0] = 0;
    ber_in in{p, end}, seq;
    int proc, bs, t1, t2;
    if (ber_expect(&in, T_SEQUENCE, &seq) < 0 || get_enum(&seq, &proc) < 0 || get_enum(&seq, &bs) < 0)
        return -1;
    if (pc) {
        pc->procedure = proc;
        pc->basicService = bs;
    }
    // here a number without a type of number counts as type unknown (0)
    if (get_address(&seq, num1, num1size, &t1) < 0)
        return -1;
    *ton1 = t1 < 0 ? 0 : t1;
    if (get_party_number(&seq, num2, num2size, &t2) < 0)
        return 0;  // diverted-to number only
    *ton2 = t2 < 0 ? 0 : t2;
    return 0;
}
