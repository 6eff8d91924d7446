// FPGA version and register access through the line-interface driver's
// sysfs files.
#include "fpga.h"
#include "lineif.h"
#include "log.h"

#include <cstdio>

namespace {

const char *const REG_FILE = "/sys/class/quilmar/fpga/reg";
const char *const VERSION_FILE = "/sys/class/quilmar/fpga/version";

int sysfs_write(const char *text)
{
    return lineif_write_text(REG_FILE, text) < 0 ? -1 : 0;
}

int sysfs_read(char *buf, size_t size)
{
    return lineif_read_text(REG_FILE, buf, size);
}

const tarn_fpga_reg_io sysfs_io = {sysfs_write, sysfs_read};
const tarn_fpga_reg_io *reg_io = &sysfs_io;

} // namespace

int tarn_fpga_version = -1;

void tarn_fpga_set_reg_io(const tarn_fpga_reg_io *io)
{
    reg_io = io ? io : &sysfs_io;
}

long tarn_fpga_reg_read(unsigned int reg)
{
    char text[32];
    snprintf(text, sizeof text, "0x%x\n", reg);
    if (reg_io->write_text(text) < 0) {
        LOGD(MSP, 1, nullptr, "LTE-HD: cannot open /sys/class/quilmar/fpga/reg to select 0x%02x", reg);
        return -1;
    }
    char answer[64];
    if (reg_io->read_text(answer, sizeof answer) < 0) {
        LOGD(MSP, 1, nullptr, "LTE-HD: cannot open /sys/class/quilmar/fpga/reg to read 0x%02x", reg);
        return -1;
    }
    unsigned int addr = 0, value = 0;
    if (sscanf(answer, "0x%x=0x%x", &addr, &value) != 2)
        return -1;
    return (long)value;
}

int tarn_fpga_reg_write(unsigned int reg, unsigned int value)
{
    char text[48];
    snprintf(text, sizeof text, "0x%x 0x%x\n", reg, value);
    if (reg_io->write_text(text) < 0) {
        LOGD(MSP, 1, nullptr, "LTE-HD: cannot open /sys/class/quilmar/fpga/reg for 0x%02x=0x%x", reg,
             value);
        return -1;
    }
    return 0;
}

int tarn_fpga_get_version()
{
    if (tarn_fpga_version >= 0)
        return tarn_fpga_version;
    int v;
    if (lineif_read_int(VERSION_FILE, &v) < 0)
        return -1;
    tarn_fpga_version = v;
    LOGD(MSP, 3, nullptr, "LTE-HD: FPGA version = %d", v);
    return v;
}
