// Raw media processor commands of the console that outside scripts parse:
// MDIO bus operations and the unicast MAC address, answered in a fixed
// machine-readable form.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "csm_codes.h"
#include "csm_message.h"
#include "mc_listings.h"
#include "mc_msp_tests.h"
#include "msp_events.h"
#include "msp_queue.h"
#include "network_config.h"

// Queues a device command built with header index 0 and waits for it; its
// response goes to the event handler, which stores the results. They are
// cleared first, so a refused command never shows an earlier success.
static void mdio_blocking(magic_csm m)
{
    msp_mdio_response_code = -1;
    msp_mdio_read_data = -1;
    msp_queue_command(m, MSP_ADDRESS_DEVICE, nullptr, 1, 1);
}

int mc_mdio_command(const char *arg, FILE *out, int *)
{
    std::vector<std::string> f = mc_split_fields(arg, 10);
    char op = f.size() > 1 ? f[1][0] : '\0';
    long n[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 5 && i + 2 < (int)f.size(); i++)
        n[i] = strtol(f[i + 2].c_str(), nullptr, 10);
    magic_csm m = csm_null_msg();
    switch (op) {
    case 'w':
        if (csm_msg_is_null(m = create_default_csm_msg(FC_MDIO_BUS_WRITE, 0)))
            break;
        m.u_csmdev_mdio_bus_write->emac_number = (uint32_t)n[0];
        m.u_csmdev_mdio_bus_write->preamble_suppress = (uint32_t)n[1] & 1;
        m.u_csmdev_mdio_bus_write->target_mmd_device_address = (uint32_t)n[2];
        m.u_csmdev_mdio_bus_write->target_register_address = (uint32_t)n[3];
        m.u_csmdev_mdio_bus_write->data_to_be_written = (uint32_t)n[4];
        break;
    case 'r':
        if (csm_msg_is_null(m = create_default_csm_msg(FC_MDIO_BUS_READ, 0)))
            break;
        m.u_csmdev_mdio_bus_read->emac_number = (uint32_t)n[0];
        m.u_csmdev_mdio_bus_read->preamble_suppress = (uint32_t)n[1] & 1;
        m.u_csmdev_mdio_bus_read->target_mmd_device_address = (uint32_t)n[2];
        m.u_csmdev_mdio_bus_read->target_register_address = (uint32_t)n[3];
        m.u_csmdev_mdio_bus_read->data_to_be_written = 0;
        break;
    case 'a':
        if (csm_msg_is_null(m = create_default_csm_msg(FC_MDIO_START_AUTODECT, 0)))
            break;
        m.u_csmdev_mdio_start_autodetect->emac_number = (uint32_t)n[0];
        m.u_csmdev_mdio_start_autodetect->mdio_bus_number = (uint32_t)n[1];
        m.u_csmdev_mdio_start_autodetect->target_device_address = (uint32_t)n[2];
        m.u_csmdev_mdio_start_autodetect->enable_indication = (uint32_t)n[3] & 1;
        break;
    case 'f':
        if (csm_msg_is_null(m = create_default_csm_msg(FC_MDIO_SET_FREQ, 0)))
            break;
        m.u_csmdev_mdio_set_freq->mdio_bus_number = (uint32_t)n[0];
        m.u_csmdev_mdio_set_freq->mdio_max_frequency = (uint32_t)n[1];
        break;
    default:
        break;
    }
    if (csm_msg_is_null(m)) {
        fputs("MDIORESPONSE:-1\n", out);
        return 0;
    }
    mdio_blocking(m);
    if (op == 'r')
        fprintf(out, "MDIORESPONSE:%i:%i\n", (int)msp_mdio_response_code, (int)msp_mdio_read_data);
    else
        fprintf(out, "MDIORESPONSE:%i\n", (int)msp_mdio_response_code);
    return 0;
}

int mc_msp_command(const char *arg, FILE *out, int *)
{
    if (strncmp(arg, "m:", 2) != 0) {
        fputs("MSPRESPONSE:-1\n", out);
        return 0;
    }
    char text[64];
    snprintf(text, sizeof text, "%s", arg + 2);
    uint8_t b[6];
    if (mac_char_to_bytearray(text, b) != 0) {
        printf("pass valid mac address");
        fflush(stdout);
        return -1;
    }
    magic_csm m = create_default_csm_msg(FC_SET_UNICAST_MAC_ADDR, 0);
    if (csm_msg_is_null(m))
        return 0;
    csmdev_set_unicast_mac_addr *r = m.u_csmdev_set_unicast_mac_addr;
    r->address_config = 0;
    // Each pair goes out first byte first (the fields are little-endian).
    r->bytes_01 = (uint32_t)(b[0] | b[1] << 8);
    r->bytes_23 = (uint32_t)(b[2] | b[3] << 8);
    r->bytes_45 = (uint32_t)(b[4] | b[5] << 8);
    mdio_blocking(m);
    fprintf(out, "MSPRESPONSE:%i\n", (int)msp_mdio_response_code);
    return 0;
}
