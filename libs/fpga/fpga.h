// The FPGA between the line-interface modules and the TDM bus, seen through
// the line-interface driver's sysfs files: its version, its registers, and
// the switch of an LTE port's voice path between G.722 (HD) and A-law
// narrowband.
#pragma once
#include <cstddef>

enum {
    FPGA_G722_MIN_VERSION = 15,
    FPGA_REG_G722_ID = 0xE0,          // reads FPGA_G722_ID_VALUE with the core
    FPGA_G722_ID_VALUE = 0x67220001,
    LTE_HD_PORTS = 7                  // tarn_lte_hd_mode rows, by GSM port 0..6
};

// Cached version (-1 until read), cached core presence (-1 until decided),
// and the mode last applied per GSM port (1 G.722, 0 narrowband).
extern int tarn_fpga_version;
extern int tarn_fpga_g722;
extern int tarn_lte_hd_mode[LTE_HD_PORTS];

// Access to the register file "/sys/class/quilmar/fpga/reg". Writing
// "0x<reg>\n" selects a register that a following read of the file shows as
// "0x<reg>=0x<value>"; writing "0x<reg> 0x<value>\n" writes one. Each access
// opens and closes the file. A plain file cannot play that part, so the
// access sits behind this seam: tests put a register model in its place.
struct tarn_fpga_reg_io {
    // One open-write-close of text; 0, or -1 when the file cannot be opened.
    int (*write_text)(const char *text);
    // One open-read-close into buf (NUL-terminated); the byte count, or -1
    // when the file cannot be opened.
    int (*read_text)(char *buf, size_t size);
};
// Installs an access (null: the sysfs file under the path root).
void tarn_fpga_set_reg_io(const tarn_fpga_reg_io *io);

// The register's value (0 .. 0xFFFFFFFF), or -1.
long tarn_fpga_reg_read(unsigned int reg);
// Writes a register; 0, or -1 after a log line when the file cannot be opened.
int tarn_fpga_reg_write(unsigned int reg, unsigned int value);

// The cached or freshly read version, or -1 (file missing or no number).
int tarn_fpga_get_version();
// 1 when the G.722 core is present, else 0.
int tarn_fpga_has_g722();

// Switches GSM port 1..6's FPGA path to G.722 or back to narrowband when a
// call on it starts or ends; calltag is the call's log tag.
void tarn_lte_hd_apply(const char *calltag, int port, int want_g722);
