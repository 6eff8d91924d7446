// The GSM/LTE modem library: everything the daemon uses of it.
#pragma once
#include "gsm_call.h"
#include "gsm_cbm.h"
#include "gsm_io.h"
#include "gsm_modem_init.h"
#include "gsm_net.h"
#include "gsm_port.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_sms.h"
#include "gsm_text.h"
#include "gsm_types.h"
