// Option strings and the structured option texts, as configuration files and
// the console hand them to the call-configuration code. The first byte picks
// the entry point, the rest is the text.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        application_create();
        init_locks();
        init_default_call_configuration();
        log_levels_debug_enabled = 0;
        if (!freopen("/dev/null", "w", stdout)) // "ignoring empty token" lines
            return false;
        return true;
    }();
    (void)ready;
    if (size < 1)
        return 0;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text = text.c_str(); // up to the first NUL, as a C text
    static call_configuration cc;
    cc_init_call_configuration(&cc);
    char buf[1024];
    FILE *null = fopen("/dev/null", "w");
    switch (data[0] % 12) {
    case 0: {
        cc_parse_call_configuration_direct(nullptr, &cc, text.c_str());
        call_configuration merged;
        cc_init_call_configuration(&merged);
        cc_update_call_configuration(&merged, &cc);
        if (null)
            cc_print_call_configuration(null, &merged, 1, data[0] & 0x10 ? 1 : 0);
        break;
    }
    case 1: {
        call_configuration *p = cc_parse_call_configuration_pool(nullptr, text.c_str());
        cc_release_call_configuration(p);
        if (data[0] & 0x80)
            cc_clean_call_configuration_pool();
        break;
    }
    case 2:
        cc_allow_codecs(&cc.codecs, text.c_str());
        cc_format_codec_settings(&cc.codecs, buf, sizeof buf);
        cc.srtp_crypto_suites = cc_parse_crypto_suites(text.c_str());
        cc_print_crypto_suites(cc.srtp_crypto_suites);
        break;
    case 3:
        cc_parse_sip_failover_causes(&cc, text.c_str());
        cc_format_sip_failover_causes(buf, sizeof buf, cc.sip_failover_causes, cc.sip_failover_causes_size);
        cc_set_t38_options(&cc.t38_options, text.c_str());
        break;
    case 4:
        cc_parse_force_t38_reinvite(&cc.force_t38_reinvite, text.c_str());
        cc_format_t38_force_reinvite(&cc.force_t38_reinvite, buf, sizeof buf);
        cc_set_faxdetect_options(&cc.faxdetect_options, text.c_str());
        break;
    case 5:
        cc_parse_feature_codes(&cc.feature_codes, text.c_str());
        cc_format_feature_codes(&cc.feature_codes, buf, sizeof buf);
        break;
    case 6:
        cc_parse_aoc_definition(&cc.aocdef, text.c_str());
        cc_format_aoc_definition(&cc.aocdef, buf, sizeof buf);
        break;
    case 7:
        cc_parse_fxo_definition(&cc.fxo_in_pr_def, text.c_str());
        cc_format_fxo_pr_definition(&cc.fxo_in_pr_def, buf, sizeof buf);
        cc_parse_ec_sparse_params(&cc.ec_sparse_params, text.c_str());
        break;
    case 8:
        cc_parse_r2config(&cc.r2config, text.c_str());
        cc_format_r2config(&cc.r2config, buf, sizeof buf);
        cc_parse_msp_indication_control(&cc.msp_indication_control, text.c_str());
        break;
    case 9: {
        struct override o;
        cc_parse_override(&o, text.c_str());
        struct extra_filter f {};
        cc_parse_extra_filter(&f, text.c_str());
        break;
    }
    case 10: {
        int a = 0, b = 0, c = 0;
        cc_parse_dtmf_params(text.c_str(), &a, &b, &c);
        cc_parse_ntenergy_params(text.c_str(), &a, &b, &c);
        break;
    }
    default: {
        // One key and value: "key=value" split at the first "=".
        std::string key = text.substr(0, text.find('=')), value;
        if (text.find('=') != std::string::npos)
            value = text.substr(text.find('=') + 1);
        cc_set_call_configuration_value(&cc, key.c_str(), value.data());
        if (null)
            cc_print_call_configuration_filtered(null, &cc, 0, 0, key.c_str());
        break;
    }
    }
    if (null)
        fclose(null);
    return 0;
}
