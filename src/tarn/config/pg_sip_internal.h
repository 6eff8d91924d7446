// Pieces shared by the SIP port groups' source files.
#pragma once
#include "pg_sip_groups.h"

// "s" when the group uses TLS and its call configuration asks for sips URIs
// (sips_on_tls), else "".
const char *pg_sips_letter(const port_group_sip *pgs);

// Replaces an owned text by a copy of value (null: no text).
void pg_replace_text(char **slot, const char *value);
