#include "device_info.h"

#include <regex.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "log.h"
#include "platform_path.h"

const hwi_model_row hwi_model_rows[] = {
    {"04", "davnoleA", 16},
    {"16", "davnoleB", 64},
    {"64", "davnoleC", 128},
    {nullptr, "davnoleunknown", 0},
};
const int hwi_model_row_count = sizeof hwi_model_rows / sizeof hwi_model_rows[0];

const hwi_module_row hwi_module_rows[] = {
    {"dv4S0", "BRI", 4, 4, "DV4S0"},
    {"dv1E1", "PRI", 1, 30, "DV1E1"},
    {"dv2E1", "PRI", 2, 60, "DV2E1"},
    {"dv4FXO", "FXO", 4, 4, "DV4FXO"},
    {"dv4FXS", "FXS", 4, 4, "DV4FXS"},
    {"dv2S02FXS", "BRI/FXS", 4, 6, "DV2S02FXS"},
    {"dv2GSM", "GSM", 2, 2, "DV2GSM"},
    {"dv2LTE", "LTE", 2, 2, "DV2LTE"},
    {nullptr, "none", 0, 0, "none"},
};
const int hwi_module_row_count = sizeof hwi_module_rows / sizeof hwi_module_rows[0];

// Without a blank after it the serial number is taken as 15 characters, as
// far as the line goes.
enum { SERIAL_WITHOUT_BLANK = 15, REVISION_LENGTH = 4 };

static void copy_part(char *dst, size_t size, const char *src, size_t len)
{
    if (len > size - 1)
        len = size - 1;
    memcpy(dst, src, len);
    dst[len] = '\0';
}

int hwi_parse_cmdline(hardware_info *hi, const char *line)
{
    int found = 0;
    if (const char *p = strstr(line, "carduuid=")) {
        p += strlen("carduuid=");
        const char *blank = strchr(p, ' ');
        size_t len = blank ? (size_t)(blank - p) : strnlen(p, SERIAL_WITHOUT_BLANK);
        copy_part(hi->hwi_serial_number, sizeof hi->hwi_serial_number, p, len);
        found |= 1;
    }
    if (const char *p = strstr(line, "revision=")) {
        p += strlen("revision=");
        copy_part(hi->hwi_hardware_revision, sizeof hi->hwi_hardware_revision, p, strnlen(p, REVISION_LENGTH));
        found |= 2;
    }
    return found;
}

const hwi_model_row &hwi_model_for_serial(const char *serial)
{
    if (strlen(serial) >= 4)
        for (int i = 0; i < hwi_model_row_count - 1; i++)
            if (strncmp(serial + 2, hwi_model_rows[i].digits, 2) == 0)
                return hwi_model_rows[i];
    return hwi_model_rows[hwi_model_row_count - 1];
}

void hwi_derive_slot(hardware_info *hi, int slot)
{
    const hwi_module_row *r = &hwi_module_rows[hwi_module_row_count - 1];
    for (int i = 0; i < hwi_module_row_count - 1; i++)
        if (strcmp(hi->hwi_li_internal_name[slot], hwi_module_rows[i].internal_name) == 0)
            r = &hwi_module_rows[i];
    snprintf(hi->hwi_li_type[slot], sizeof hi->hwi_li_type[slot], "%s", r->type);
    snprintf(hi->hwi_li_verbose_name[slot], sizeof hi->hwi_li_verbose_name[slot], "%s", r->verbose_name);
    hi->hwi_li_ports[slot] = r->ports;
    hi->hwi_li_channels[slot] = r->channels;
}

// The first line of a file without its line end; false when it cannot be read.
static bool first_line(const char *path, char *buf, size_t size)
{
    FILE *f = fopen(platform_path(path).c_str(), "r");
    if (!f)
        return false;
    if (!fgets(buf, (int)size, f))
        buf[0] = '\0';
    fclose(f);
    buf[strcspn(buf, "\r\n")] = '\0';
    return true;
}

void get_device_info()
{
    if (!gp)
        return;
    if (!gp->hi && !(gp->hi = static_cast<hardware_info *>(calloc(1, sizeof(hardware_info)))))
        return;
    hardware_info *hi = gp->hi;
    hi->hwi_serial_number[0] = hi->hwi_hardware_revision[0] = hi->hwi_device_name[0] = '\0';
    for (int s = 0; s < 2; s++)
        hi->hwi_li_internal_name[s][0] = hi->hwi_li_verbose_name[s][0] = '\0';

    char line[256];
    if (first_line("/proc/cmdline", line, sizeof line)) {
        int found = hwi_parse_cmdline(hi, line);
        if (!(found & 1))
            LOGD(TARN, 0, nullptr, "Couldn't get serial number");
        if (!(found & 2))
            LOGD(TARN, 0, nullptr, "Couldn't get hardware revision");
    } else {
        LOGD(TARN, 0, nullptr, "Couldn't get serial number and revision");
    }
    const hwi_model_row &m = hwi_model_for_serial(hi->hwi_serial_number);
    snprintf(hi->hwi_device_name, sizeof hi->hwi_device_name, "%s", m.device_name);
    hi->hwi_msp_channels = m.msp_channels;

    // A repeated run counts afresh.
    hi->hwi_numlif = 0;
    for (int s = 0; s < HWI_SLOTS; s++) {
        char path[64], name[256];
        snprintf(path, sizeof path, "/sys/class/quilmar/li%i/module", s);
        if (!first_line(path, name, sizeof name)) {
            LOGD(TARN, 0, nullptr, "Couldn't get line interface %i info", s);
        } else {
            printf("I %i |%s|\n", s, name);
            const char *stored = strcmp(name, "unknown") == 0 ? "none" : name;
            copy_part(hi->hwi_li_internal_name[s], sizeof hi->hwi_li_internal_name[s], stored, strlen(stored));
        }
        hwi_derive_slot(hi, s);
    }
    for (int s = 0; s < 2; s++)
        if (strcmp(hi->hwi_li_verbose_name[s], "none") != 0)
            hi->hwi_numlif++;
    fflush(stdout);
}

void regexp_test(FILE *out, const char *pattern, const char *text)
{
    regex_t re;
    if (regcomp(&re, pattern, REG_EXTENDED) != 0) {
        fprintf(out, "Couldn't build RegExp from '%s'\n", pattern);
        return;
    }
    regmatch_t m;
    int match = regexec(&re, text, 1, &m, 0) == 0 && m.rm_so == 0 && (size_t)m.rm_eo == strlen(text);
    regfree(&re);
    fprintf(out, "REGEXP='%s' STRING='%s' MATCH='%i'\n", pattern, text, match);
}
