#include "causes.h"

#include "application.h"

const char *const default_sip_reject_cause_text = "Busy Here";

namespace {

struct isdn_cause_row {
    int cause;
    const char *text;     // print_isdn_cause
    const char *sip_text; // print_sip_unavailable
};

const isdn_cause_row isdn_causes[] = {
    {0, "<No cause>", "SERVICE UNAVAILABLE (ISDN: <No cause>)"},
    {1, "Unallocated number", "SERVICE UNAVAILABLE (ISDN: Unallocated number)"},
    {2, "No route to transit network", "SERVICE UNAVAILABLE (ISDN: No route to transit network)"},
    {3, "No route to destination", "SERVICE UNAVAILABLE (ISDN: No route to destination)"},
    {4, "<Listen to announcement...>", "SERVICE UNAVAILABLE (ISDN: <Listen to announcement...>)"},
    {5, "Misdialed trunk prefix.", "SERVICE UNAVAILABLE (ISDN: Misdialed trunk prefix.)"},
    {6, "Channel unacceptable", "SERVICE UNAVAILABLE (ISDN: Channel unacceptable)"},
    {8, "Preemption", "SERVICE UNAVAILABLE (ISDN: Preemption)"},
    {9, "Preemption - circuit reserved", "SERVICE UNAVAILABLE (ISDN: Preemption - circuit reserved)"},
    {16, "Normal call clearing", "SERVICE UNAVAILABLE (ISDN: Normal call clearing)"},
    {17, "User busy", "SERVICE UNAVAILABLE (ISDN: User busy)"},
    {18, "No user responding", "SERVICE UNAVAILABLE (ISDN: No user responding)"},
    {19, "No answer from user", "SERVICE UNAVAILABLE (ISDN: No answer from user)"},
    {20, "Subscriber absent", "SERVICE UNAVAILABLE (ISDN: Subscriber absent)"},
    {21, "Call rejected", "SERVICE UNAVAILABLE (ISDN: Call rejected)"},
    {22, "Number changed", "SERVICE UNAVAILABLE (ISDN: Number changed)"},
    {26, "Non-selected user clearing", "SERVICE UNAVAILABLE (ISDN: Non-selected user clearing)"},
    {27, "Destination out of order", "SERVICE UNAVAILABLE (ISDN: Destination out of order)"},
    {28, "Invalid number (incomplete)", "SERVICE UNAVAILABLE (ISDN: Invalid number (ISDN: incomplete))"},
    {29, "Facility rejected", "SERVICE UNAVAILABLE (ISDN: Facility rejected)"},
    {31, "Normal, unspecified or Network Ressource Unavailable (like 34)", "SERVICE UNAVAILABLE (ISDN: Normal, unspecified or Network Ressource Unavailable (ISDN: like 34))"},
    {34, "No circuit/channel available", "SERVICE UNAVAILABLE (ISDN: No circuit/channel available)"},
    {41, "Temporary failure", "SERVICE UNAVAILABLE (ISDN: Temporary failure)"},
    {42, "Switching equipment congestion", "SERVICE UNAVAILABLE (ISDN: Switchting equipment congestion)"},
    {43, "Access informationen discarded", "SERVICE UNAVAILABLE (ISDN: Access informationen discarded)"},
    {44, "No requested circuit/channel", "SERVICE UNAVAILABLE (ISDN: No requested circuit/channel)"},
    {46, "Precedence call blocked", "SERVICE UNAVAILABLE (ISDN: Precedence call blocked)"},
    {47, "Resource unavailable, unspecified", "SERVICE UNAVAILABLE (ISDN: Resource unavailable, unspecified)"},
    {49, "Quality of service not available", "SERVICE UNAVAILABLE (ISDN: Quality of service not available)"},
    {50, "Requested facility not subscribed", "SERVICE UNAVAILABLE (ISDN: Requested facility not subscribed)"},
    {53, "Outgoing calls barred within CUG", "SERVICE UNAVAILABLE (ISDN: Outgoing calls barred within CUG)"},
    {55, "Incoming calls barred within CUG", "SERVICE UNAVAILABLE (ISDN: Incoming calls barred within CUG)"},
    {57, "Bearer capability not authorized", "SERVICE UNAVAILABLE (ISDN: Bearer capability not authorized)"},
    {58, "Bearer capability not present", "SERVICE UNAVAILABLE (ISDN: Bearer capability not present)"},
    {63, "Service or option not available", "SERVICE UNAVAILABLE (ISDN: Service or option not available)"},
    {65, "Bearer capability not implement.", "SERVICE UNAVAILABLE (ISDN: Bearer capability not implement.)"},
    {66, "Channel type not implemented", "SERVICE UNAVAILABLE (ISDN: Channel type not implemented)"},
    {69, "Requested facility not implement.", "SERVICE UNAVAILABLE (ISDN: Requested facility not implement.)"},
    {70, "restricted digital informat. only", "SERVICE UNAVAILABLE (ISDN: restricted digital informat. only)"},
    {79, "Service or option not implemented", "SERVICE UNAVAILABLE (ISDN: Service or option not implemented)"},
    {81, "Invalid call reference value", "SERVICE UNAVAILABLE (ISDN: Invalid call reference value)"},
    {82, "Identified channel does not exist", "SERVICE UNAVAILABLE (ISDN: Identified channel does not exist)"},
    {83, "No suspended call with this id", "SERVICE UNAVAILABLE (ISDN: No suspended call with this id)"},
    {84, "Call identity in use", "SERVICE UNAVAILABLE (ISDN: Call identity in use)"},
    {85, "No call suspended", "SERVICE UNAVAILABLE (ISDN: No call suspended)"},
    {86, "Suspended call has been cleared", "SERVICE UNAVAILABLE (ISDN: Suspended call has been cleared)"},
    {87, "User not member of CUG", "SERVICE UNAVAILABLE (ISDN: User not member of CUG)"},
    {88, "Incompatibel destination", "SERVICE UNAVAILABLE (ISDN: Incompatibel destination)"},
    {89, "", "SERVICE UNAVAILABLE (ISDN: Cursed)"},
    {90, "Non-existent CUG", "SERVICE UNAVAILABLE (ISDN: Non-existent CUG)"},
    {91, "Invalid transit network selection", "SERVICE UNAVAILABLE (ISDN: Invalid transit network selection)"},
    {95, "Invalid message, unspecified", "SERVICE UNAVAILABLE (ISDN: Invalid message, unspecified)"},
    {96, "Information element missing", "SERVICE UNAVAILABLE (ISDN: Information element missing)"},
    {97, "Message type non-existent", "SERVICE UNAVAILABLE (ISDN: Message type non-existent)"},
    {98, "Message not compatible with state", "SERVICE UNAVAILABLE (ISDN: Message not compatible with state)"},
    {99, "Information element not impl.", "SERVICE UNAVAILABLE (ISDN: Information element not impl.)"},
    {100, "Invalid info element contents", "SERVICE UNAVAILABLE (ISDN: Invalid info element contents)"},
    {101, "Message not compatible with state", "SERVICE UNAVAILABLE (ISDN: Message not compatible with state)"},
    {102, "Recovery on timer expiry", "SERVICE UNAVAILABLE (ISDN: Recovery on timer expiry)"},
    {103, "Parameter non-existent", "SERVICE UNAVAILABLE (ISDN: Parameter non-existent)"},
    {111, "Protocol error, unspecified", "SERVICE UNAVAILABLE (ISDN: Protocol error, unspecified)"},
    {127, "Interworking, unspecified", "SERVICE UNAVAILABLE (ISDN: Interworking, unspecified)"},
};
static_assert(sizeof isdn_causes / sizeof isdn_causes[0] == 62, "rows as given");

const isdn_cause_row *find_cause(int cause)
{
    for (const isdn_cause_row &r : isdn_causes)
        if (r.cause == cause)
            return &r;
    return nullptr;
}

} // namespace

const char *print_isdn_cause(int cause)
{
    const isdn_cause_row *r = find_cause(cause);
    return r ? r->text : "Unknown cause";
}

const char *print_sip_unavailable(int cause)
{
    const isdn_cause_row *r = find_cause(cause);
    return r ? r->sip_text : "SERVICE UNAVAILABLE (Unknown cause)";
}

void get_reject_cause(int from, int to, int in_cause, int *out_cause, const char **out_text)
{
    const cause_map *m = gp ? &gp->causemap : nullptr;
    int count = m ? m->count : 0;
    // 1. the exact row
    for (int i = 0; i < count; i++) {
        const cause_map_element &e = m->causes[i];
        if (e.from == from && e.to == to && e.in_cause == in_cause) {
            *out_cause = e.out_cause;
            *out_text = e.out_cause_text;
            return;
        }
    }
    // 2.
    if (in_cause == 902 && from == TECH_ISDN && to == TECH_TARN) {
        *out_cause = 34;
        *out_text = "";
        return;
    }
    // 3. the row for any cause
    for (int i = 0; i < count; i++) {
        const cause_map_element &e = m->causes[i];
        if (e.from == from && e.to == to && e.in_cause == -1) {
            *out_cause = e.out_cause;
            *out_text = e.out_cause_text;
            return;
        }
    }
    // 4.-6.
    if (from == TECH_SIP) {
        *out_cause = default_sip_reject_cause;
        *out_text = default_sip_reject_cause_text;
    } else if (from == TECH_ISDN) {
        *out_cause = default_isdn_reject_cause;
        *out_text = nullptr;
    } else {
        *out_cause = 0;
        *out_text = "";
    }
}
