// Hands call control's CAS functions to the parts that call them.
#include "cas_callctl.h"
#include "dtmf.h"
#include "media_callctl.h"
#include "sip_admission.h"

void cas_callctl_install()
{
    sip_admission_hooks adm{};
    adm.init_incoming_sip_to_cas_call = init_incoming_sip_to_cas_call;
    sip_admission_set_hooks(&adm);

    media_callctl_iface m{};
    m.send_mfcr2_tone = send_mfcr2_tone;
    m.cas_passthrough_map = cas_passthrough_map;
    media_set_callctl_iface(&m);

    dtmf_line_hooks dtmf{};
    dtmf.process_cas_e1_flush_buffer = process_cas_e1_flush_buffer;
    dtmf_set_line_hooks(&dtmf);
}
