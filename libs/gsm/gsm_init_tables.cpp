#include "gsm_modem_init.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define SPECIAL(name) {name, "", 0, 0, 0, 0}

const gsm_init_command GE865_init_commands[28] = {
    {"AT+CIND=0,0,0,0,0,0,0,0,0,0", "OK", 15, 0, 0, 2},
    {"AT", "OK", 5, 0, 1, 5},
    {"AT&F", "OK", 6, 0, 1, 5},
    {"AT#Z=0", "OK", 6, 0, 1, 5},
    {"AT+IPR=9600", "OK", 5, 0, 1, 5},
    {"AT+CIND=0,0,0,0,0,0,0,0,0,0", "OK", 15, 0, 0, 5},
    {"AT+CMEE=2", "OK", 5, 0, 1, 5},
    SPECIAL("SPECIAL_SIMDET"),
    {"AT#SELINT=2", "OK", 10, 0, 1, 5},
    {"AT#SMSMODE=1", "OK", 11, 0, 1, 5},
    {"AT#REGMODE=1", "OK", 12, 0, 1, 5},
    {"AT#DIALMODE=0", "OK", 13, 0, 1, 5},
    {"AT+CFUN=1,0", "OK", 14, 0, 1, 5},
    {"AT+FCLASS=8", "OK", 7, 0, 1, 5},
    {"AT#PCT", "#PCT: 1", 9, 1, 1, 5},
    SPECIAL("SPECIAL_NETWORK_CONNECT"),
    {"AT+CMER=3,0,0,2,0", "OK", 16, 0, 1, 5},
    {"AT+CSSN=1,1", "OK", 5, 0, 0, 5},
    {"AT#DVI=1,1,0", "OK", 5, 0, 1, 5},
    {"AT+CLIP=1", "OK", 5, 0, 1, 5},
    {"AT+CLIR=2", "OK", 5, 0, 1, 5},
    {"AT+CALM=2", "OK", 5, 0, 1, 5},
    {"AT#STM=2", "OK", 5, 0, 1, 5},
    SPECIAL("SPECIAL_SMS_PARAMS"),
    SPECIAL("SPECIAL_CODEC"),
    {"AT#ECAM=1", "OK", 13, 0, 1, 5},
    {"AT+CREG=2", "OK", 15, 0, 1, 5},
    {"AT+CIND=0,0,1,1,0,1,0,0,0", "OK", 15, 0, 1, 5},
};

const gsm_init_command LE910EUV2_init_commands[29] = {
    {"AT+CIND=0,0,0,0,0,0,0,0,0,0", "OK", 15, 0, 0, 2},
    {"AT", "OK", 5, 0, 1, 5},
    {"AT&F", "OK", 6, 0, 1, 5},
    {"AT#Z=0", "OK", 6, 0, 1, 5},
    {"AT+CIND=0,0,0,0,0,0,0,0,0,0", "OK", 15, 0, 0, 5},
    {"AT+CMEE=2", "OK", 5, 0, 1, 5},
    SPECIAL("SPECIAL_SIMDET"),
    SPECIAL("SPECIAL_NETWORK_CONNECT"),
    {"AT#SELINT=2", "OK", 10, 0, 1, 5},
    {"AT#SMSMODE=1", "OK", 11, 0, 1, 5},
    {"AT#REGMODE=1", "OK", 12, 0, 0, 5},
    {"AT#DIALMODE=0", "OK", 13, 0, 1, 5},
    {"AT+CFUN=1,0", "OK", 14, 0, 1, 5},
    {"AT+FCLASS=8", "OK", 7, 0, 1, 5},
    {"AT#PCT", "#PCT: 1", 9, 1, 1, 5},
    {"AT+CMER=3,0,0,2,0", "OK", 16, 0, 1, 5},
    {"AT+CSSN=1,1", "OK", 5, 0, 0, 5},
    {"AT#DVIEXT=0,0,0,0,1", "OK", 5, 0, 1, 5},
    {"AT#DVI=1,2,0", "OK", 5, 0, 1, 5},
    {"AT+CLIP=1", "OK", 5, 0, 1, 5},
    {"AT+CLIR=2", "OK", 5, 0, 1, 5},
    {"AT+CALM=2", "OK", 5, 0, 1, 5},
    {"AT#STM=2", "OK", 5, 0, 1, 5},
    SPECIAL("SPECIAL_SMS_PARAMS"),
    SPECIAL("SPECIAL_CODEC"),
    {"AT#ECAM=1", "OK", 13, 0, 1, 5},
    SPECIAL("SPECIAL_PROVIDER"),
    {"AT+CREG=2", "OK", 15, 0, 1, 5},
    {"AT+CIND=0,0,1,1,0,1,0,0,0", "OK", 15, 0, 1, 5},
};

const gsm_init_command LE910C1_init_commands[29] = {
    {"AT", "OK", 5, 0, 1, 5},
    {"AT&F0", "OK", 6, 0, 1, 5},
    {"AT#Z=0", "OK", 6, 0, 1, 5},
    {"AT#CFLO=1", "OK", 5, 0, 0, 5},
    {"AT+CMEE=2", "OK", 5, 0, 1, 5},
    {"AT#ISMSCFG=0", "OK", 11, 0, 1, 5},
    SPECIAL("SPECIAL_SIMDET"),
    SPECIAL("SPECIAL_NETWORK_CONNECT"),
    {"AT+CIND=0,0,0,0,0,0,0,0,0,0,0", "OK", 15, 0, 0, 5},
    {"AT#SELINT=2", "OK", 10, 0, 1, 5},
    {"AT#SMSMODE=1", "OK", 11, 0, 1, 5},
    {"AT#DIALMODE=0", "OK", 13, 0, 1, 5},
    {"AT+CFUN=1,0", "OK", 14, 0, 1, 5},
    {"AT+FCLASS=8", "OK", 7, 0, 1, 5},
    {"AT#PCT", "#PCT: 1", 9, 1, 1, 5},
    {"AT+CMER=3,0,0,2,0", "OK", 16, 0, 1, 5},
    {"AT+CSSN=1,1", "OK", 5, 0, 0, 5},
    {"AT#DVI=1,2,0", "OK", 5, 0, 1, 5},
    {"AT#DVICLK=2048", "OK", 5, 0, 1, 5},
    {"AT+CLIP=1", "OK", 5, 0, 1, 5},
    {"AT+CLIR=2", "OK", 5, 0, 1, 5},
    {"AT+CALM=2", "OK", 5, 0, 1, 5},
    {"AT#STM=2", "OK", 5, 0, 1, 5},
    SPECIAL("SPECIAL_SMS_PARAMS"),
    SPECIAL("SPECIAL_CODEC"),
    {"AT#ECAM=1", "OK", 13, 0, 1, 5},
    SPECIAL("SPECIAL_PROVIDER"),
    {"AT+CREG=2", "OK", 15, 0, 1, 5},
    {"AT+CIND=0,0,1,1,0,1,0,0,0,0,0", "OK", 15, 0, 1, 5},
};

#undef SPECIAL

static const gsm_init_table tables[] = {
    {"GE-865", GE865_init_commands, 28},
    {"LE910EU-V2", LE910EUV2_init_commands, 29},
    {"LE910C1", LE910C1_init_commands, 29},
};

const gsm_init_table *gsm_init_table_for_model(const char *model, char *name, int size)
{
    if (!model)
        return nullptr;
    if (strstr(model, "LE910C1") || strstr(model, "LE910C4-EU")) {
        snprintf(name, (size_t)size, "%s", model);
        return &tables[2];
    }
    if (strcmp(model, "LE910EU-V2") == 0) {
        snprintf(name, (size_t)size, "LE910EU-V2");
        return &tables[1];
    }
    if (strcmp(model, "GE-865") == 0 || strcmp(model, "GE865") == 0) {
        snprintf(name, (size_t)size, "GE-865");
        return &tables[0];
    }
    return nullptr;
}

const _libgsm_errstr_t libgsm_errors[] = {
    {EWRONGPIN, "invalid PIN"},
    {ENONETWORK, "no network found"},
    {EGSMBUSY, "GSM modem busy"},
    {EGSMCONF, "error configuring GSM modem"},
    {EINVALENC, "invalid SMS encoding selected"},
    {0, ""},
};

const _libgsm_status_trans_t libgsm_status[] = {{0, "OK"}, {1, "ERROR"}, {-1, nullptr}};

const char *libgsm_strerror(int code)
{
    for (const _libgsm_errstr_t *e = libgsm_errors; e->code; e++)
        if (e->code == code)
            return e->text;
    return "unknown error";
}

char *gsm_status_to_string(int status)
{
    for (const _libgsm_status_trans_t *s = libgsm_status; s->text; s++)
        if (s->code == status)
            return strdup(s->text);
    return strdup("unknown");
}
