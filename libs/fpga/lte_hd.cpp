// G.722 core detection and the LTE HD voice switch of a GSM port.
#include "fpga.h"
#include "gsm_port.h"
#include "log.h"

int tarn_fpga_g722 = -1;
int tarn_lte_hd_mode[LTE_HD_PORTS];

int tarn_fpga_has_g722()
{
    if (tarn_fpga_g722 >= 0)
        return tarn_fpga_g722;
    int version = tarn_fpga_get_version();
    if (version < 0)
        return 0; // decided later, when the file can be read
    if (version < FPGA_G722_MIN_VERSION) {
        tarn_fpga_g722 = 0;
    } else {
        long id = tarn_fpga_reg_read(FPGA_REG_G722_ID);
        tarn_fpga_g722 = id == FPGA_G722_ID_VALUE ? 1 : 0;
        if (!tarn_fpga_g722)
            LOGM(MSP, 1, "LTE-HD: FPGA v%d without G.722 core (0xE0 reads 0x%x) - LTE stays narrowband",
                 version, (unsigned int)id);
    }
    LOGM(MSP, 1, "LTE-HD: FPGA v%d, G.722 core %s", version,
         tarn_fpga_g722 ? "present" : "not present");
    return tarn_fpga_g722;
}

namespace {

struct path_setting {
    unsigned int e2, e1, a1;
};

const path_setting G722_PATH = {2, 9, 0xEA04};
const path_setting NARROWBAND_PATH = {0, 0, 0xE204};

void write_path(const path_setting &s)
{
    // every write is tried, also after a failed one
    tarn_fpga_reg_write(0xE2, s.e2);
    tarn_fpga_reg_write(0xE1, s.e1);
    tarn_fpga_reg_write(0xA1, s.a1);
}

} // namespace

void tarn_lte_hd_apply(const char *calltag, int port, int want_g722)
{
    if (port < 1 || port > 6)
        return;
    want_g722 = want_g722 ? 1 : 0;
    LOGD(MSP, 5, calltag, "LTE-HD entry: port=%d want_g722=%d fpga_ver=%d", port, want_g722,
         tarn_fpga_get_version());
    if (!tarn_fpga_has_g722()) {
        if (want_g722)
            LOGM(MSP, 1, "%s LTE-HD: G.722 negotiated on gsm port %i, but the FPGA has no G.722 core",
                 calltag ? calltag : "", port);
        return;
    }
    if (want_g722) {
        write_path(G722_PATH);
        if (tarn_lte_hd_mode[port] == 1)
            return;
        LOGD(MSP, 3, calltag, "LTE-HD: armed G.722 (FPGA g722 core) on gsm port %i (lif %i)", port,
             gsm_port_get_lif(port));
        tarn_lte_hd_mode[port] = 1;
    } else {
        write_path(NARROWBAND_PATH);
        if (tarn_lte_hd_mode[port] == 0)
            return;
        LOGD(MSP, 3, calltag, "LTE-HD: reverted to A-law narrowband (FPGA g722 off) on gsm port %i (lif %i)",
             port, gsm_port_get_lif(port));
        tarn_lte_hd_mode[port] = 0;
    }
}
