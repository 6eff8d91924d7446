// Network status queries, the registration LED, PIN change, SMS parameters,
// USSD answers and further modem operations.
#pragma once

int gsm_net_pin_counter(int port);
int gsm_net_get_signal_quality(int port);
int gsm_net_get_status(int port);
int gsm_net_get_provider(int port);
int gsm_net_get_provider_servinfo(int port);
void gsm_update_led_regstatus(int port, int regstatus);
const char *gsm_net_reg_to_string(int status);
int gsm_net_change_pin(int port, const char *pin, const char *new_pin);
int gsm_modem_sms_parms(int port);
int libgsm_flush_device(const char *device);

// Reads a "+CUSD: <m>,"<UCS2 hex>",<dcs>" answer: *status gets m (-1 when
// absent), *text a new UTF-8 text (null when there is none or it does not
// convert). 1 when a text was decoded, else 0.
int libgsm_parse_cusd(const char *line, int *status, char **text);
