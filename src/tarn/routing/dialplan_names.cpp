#include "dialplan.h"

const char *const dp_tech_names[8] = {"TARN", "SIP", "ISDN", "GSM", "ANALOG", "CAS", "ITAPI", "UNKNOWN"};

const char *dialplan_get_tech_name(int tech)
{
    return tech >= 0 && tech < 8 ? dp_tech_names[tech] : "UNKNOWN";
}
