#include <cstdio>
#include <cstring>

#include "application.h"
#include "confman.h"
#include "schema.h"

struct module_type {
    const char *word;
    const char *modname;
    const cm_section_t *sections;
    const int *count;
};

static const module_type module_types[] = {
    {"TARN", "tarn", cfg_sect_tarn, &cfg_sect_tarn_count},
    {"SIP", "sip", cfg_sect_sip, &cfg_sect_sip_count},
    {"ISDN", "isdn", cfg_sect_isdn, &cfg_sect_isdn_count},
    {"GSM", "gsm", cfg_sect_gsm, &cfg_sect_gsm_count},
    {"ANALOG", "analog", cfg_sect_analog, &cfg_sect_analog_count},
    {"CAS", "cas", cfg_sect_cas, &cfg_sect_cas_count},
    {"TONES", "tones", cfg_sect_tones, &cfg_sect_tones_count},
    {"MISCCONF", "miscconf", cfg_sect_miscconf, &cfg_sect_miscconf_count},
};

cm *configman_create(const char *type)
{
    for (const module_type &m : module_types)
        if (type && strcmp(type, m.word) == 0)
            return cm_create(m.modname, m.sections, *m.count);
    fprintf(stderr, "passed unknown module name %s to configman_create\n", type ? type : "(null)");
    return nullptr;
}

struct dump_section {
    const char *word;
    const char *heading;
    const cm_section_t *section;
    int first, last; // rows printed; first > last prints none
    bool mark_missing;
};

static const dump_section dump_sections[] = {
    {"TARNG", ";====> tarn.conf [general]\n", &cfg_sect_tarn[0], 1, 52, false},
    {"ISDNG", ";====> tarn.isdn [general]\n", &cfg_sect_isdn[0], 1, 1, false},
    {"ISDNP", ";====> tarn.isdn [port]\n", &cfg_sect_isdn[1], 1, 23, true},
    {"SIPG", ";====> tarn.sip [general]\n", &cfg_sect_sip[0], 1, 43, false},
    {"SIPP", ";====> tarn.sip [port]\n", &cfg_sect_sip[1], 2, 36, true},
    {"ANALOGG", ";====> tarn.analog [general]\n", &cfg_sect_analog[0], 1, 0, false},
    {"ANALOGP", ";====> tarn.analog [port]\n", &cfg_sect_analog[1], 2, 26, true},
};

static void ensure_dump_managers()
{
    application_object *app = application_create();
    struct {
        cm **slot;
        const char *type;
    } slots[] = {{&app->config_tarn, "TARN"}, {&app->config_isdn, "ISDN"},
                 {&app->config_sip, "SIP"}, {&app->config_analog, "ANALOG"}};
    for (auto &s : slots)
        if (!*s.slot)
            *s.slot = configman_create(s.type);
}

void dump_default_config_module(FILE *out, const char *section)
{
    ensure_dump_managers();
    for (const dump_section &d : dump_sections) {
        if (!section || strcmp(section, d.word) != 0)
            continue;
        fputs(d.heading, out);
        for (int i = d.first; i <= d.last && i < d.section->num_directives; i++) {
            const cm_dir_t &k = d.section->directives[i];
            const char *desc = k.desc ? k.desc : "";
            fprintf(out, ";%s%s\n", desc, (!k.def && d.mark_missing) ? " (=> MUST BE SET)" : "");
            fprintf(out, "%s=%s\n", k.name, k.def ? k.def : "INSERTVALUE");
        }
        fputc('\n', out);
        return;
    }
    fprintf(out, ";unkwown module %s\n", section ? section : "(null)");
    fputc('\n', out);
}

void dump_default_config(FILE *out)
{
    for (const dump_section &d : dump_sections)
        dump_default_config_module(out, d.word);
}
