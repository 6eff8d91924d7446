#include "misdn_lib_iface.h"

misdn_cb_event cb_event = nullptr;
misdn_cb_log _cb_log = nullptr;
misdn_cb_jb_empty cb_jb_empty = nullptr;
misdn_cb_log_on cb_log_on = nullptr;

void misdn_lib_set_iface(const misdn_lib_iface *iface)
{
    cb_event = iface ? iface->cb_event : nullptr;
    _cb_log = iface ? iface->cb_log : nullptr;
    cb_jb_empty = iface ? iface->cb_jb_empty : nullptr;
}

void misdn_lib_set_log_filter(misdn_cb_log_on filter)
{
    cb_log_on = filter;
}
