#include "fac_coder.h"

// The mISDN layer's coder.
static int layer_decode(const unsigned char *ie, FacParm *fac) { return decodeFac(ie, fac); }

static int layer_encode(unsigned char *buf, int size, const FacParm *fac)
{
    return size < FAC_IE_MAX ? 0 : encodeFac(buf, fac);
}

static int layer_diversion(const unsigned char *arg, const unsigned char *end, char *number1, int size1,
                           int *type1, char *number2, int size2, int *type2)
{
    asn1_parm work = {};
    return manualParseActivationDiversionQ(&work, arg, end, number1, size1, type1, number2, size2, type2);
}

static const fac_coder_ops layer_ops = {layer_decode, layer_encode, layer_diversion, decodeFacInterrogationResult};

static fac_coder_ops coder = layer_ops;

void fac_coder_install(const fac_coder_ops *ops)
{
    coder = ops ? *ops : layer_ops;
}

int fac_decode(const unsigned char *ie, FacParm *fac)
{
    if (!coder.decode || !ie || !fac)
        return -1;
    return coder.decode(ie, fac);
}

int fac_encode(unsigned char *buf, int size, const FacParm *fac)
{
    if (!coder.encode || !buf || !fac || size <= 0)
        return 0;
    int n = coder.encode(buf, size, fac);
    return n > size ? 0 : n;
}

int fac_activation_diversion(const unsigned char *arg, const unsigned char *end,
                             char *number1, int size1, int *type1,
                             char *number2, int size2, int *type2)
{
    *type1 = -1;
    *type2 = -1;
    if (size1 > 0)
        number1[0] = 0;
    if (size2 > 0)
        number2[0] = 0;
    if (!coder.activation_diversion || !arg || arg >= end)
        return -1;
    return coder.activation_diversion(arg, end, number1, size1, type1, number2, size2, type2);
}

int fac_interrogation_result(const unsigned char *ie, int *operation, FacInterrogationEntry *entries, int max)
{
    *operation = -1;
    if (!coder.interrogation_result || !ie || max < 0 || (max > 0 && !entries))
        return -1;
    return coder.interrogation_result(ie, operation, entries, max);
}

int fac_parse_len(const unsigned char *p, const unsigned char *end, int *len)
{
    *len = 0;
    if (!p || p >= end)
        return 0;
    if (!(*p & 0x80)) {
        *len = *p;
        return 1;
    }
    int n = *p & 0x7F;
    if (n == 0 || n > 2 || end - p <= n)
        return 0;
    int v = 0;
    for (int i = 1; i <= n; i++)
        v = (v << 8) | p[i];
    *len = v;
    return n + 1;
}
