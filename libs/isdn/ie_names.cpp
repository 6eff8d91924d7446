#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base64.h"

#include "ie_coders.h"
#include "isdn_msg.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"

struct cause_text {
    int cause;
    const char *text;
};

static constexpr cause_text cause_texts[] = {
    {0, "<No cause>"},
    {1, "Unallocated number"},
    {2, "No route to transit network"},
    {3, "No route to destination"},
    {4, "<Listen to announcement...>"},
    {5, "Misdialed trunk prefix."},
    {6, "Channel unacceptable"},
    {8, "Preemption"},
    {9, "Preemption - circuit reserved"},
    {16, "Normal call clearing"},
    {17, "User busy"},
    {18, "No user responding"},
    {19, "No answer from user"},
    {20, "Subscriber absent"},
    {21, "Call rejected"},
    {22, "Number changed"},
    {26, "Non-selected user clearing"},
    {27, "Destination out of order"},
    {28, "Invalid number (incomplete)"},
    {29, "Facility rejected"},
    {31, "Normal, unspecified or Network Ressource Unavailable (like 34)"},
    {34, "No circuit/channel available"},
    {41, "Temporary failure"},
    {42, "Switching equipment congestion"},
    {43, "Access informationen discarded"},
    {44, "No requested circuit/channel"},
    {46, "Precedence call blocked"},
    {47, "Resource unavailable, unspecified"},
    {49, "Quality of service not available"},
    {50, "Requested facility not subscribed"},
    {53, "Outgoing calls barred within CUG"},
    {55, "Incoming calls barred within CUG"},
    {57, "Bearer capability not authorized"},
    {58, "Bearer capability not present"},
    {63, "Service or option not available"},
    {65, "Bearer capability not implement."},
    {66, "Channel type not implemented"},
    {69, "Requested facility not implement."},
    {70, "restricted digital informat. only"},
    {79, "Service or option not implemented"},
    {81, "Invalid call reference value"},
    {82, "Identified channel does not exist"},
    {83, "No suspended call with this id"},
    {84, "Call identity in use"},
    {85, "No call suspended"},
    {86, "Suspended call has been cleared"},
    {87, "User not member of CUG"},
    {88, "Incompatibel destination"},
    {89, ""},
    {90, "Non-existent CUG"},
    {91, "Invalid transit network selection"},
    {95, "Invalid message, unspecified"},
    {96, "Information element missing"},
    {97, "Message type non-existent"},
    {98, "Message not compatible with state"},
    {99, "Information element not impl."},
    {100, "Invalid info element contents"},
    {101, "Message not compatible with state"},
    {102, "Recovery on timer expiry"},
    {103, "Parameter non-existent"},
    {111, "Protocol error, unspecified"},
    {127, "Interworking, unspecified"},
};

// The text of every cause value 0 to 127, from the list above.
struct cause_index {
    const char *text[128];
    constexpr cause_index() : text()
    {
        for (const char *&t : text)
            t = "Unknown cause";
        for (const cause_text &c : cause_texts)
            text[c.cause] = c.text;
    }
};
static constexpr cause_index cause_index_g;

const char *ie_print_isdn_cause(int cause)
{
    return cause >= 0 && cause < 128 ? cause_index_g.text[cause] : "Unknown cause";
}

const char *ie_ton_name(int type, int enc)
{
    switch (type) {
    case -1: return "UNINITIALIZED";
    case 0: return "UNKNOWN";
    case 1: return "INTERNATIONAL";
    case 2: return "NATIONAL";
    case 3: return "NETSPECIFIC";
    case 4: return "SUBSCRIBER";
    case 5: return "ALPHANUMERIC";
    case 6: return "ABBREVIATED";
    case 7: return enc ? "ABBREVIATED" : "INVALID";
    default: return "INVALID";
    }
}

void ie_hexdump(const unsigned char *data, int len, char *out, int size)
{
    static const char digits[] = "0123456789abcdef";
    if (!out || size <= 0)
        return;
    int o = 0;
    for (int i = 0; data && i < len && i < 79 && o + 4 <= size; i++) {
        out[o++] = digits[data[i] >> 4];
        out[o++] = digits[data[i] & 15];
        out[o++] = ' ';
    }
    out[o] = 0;
}

bool ie_lines_wanted(const misdn_bchannel *bc)
{
    return global_ie_trace || misdn_log_wanted(18, bc ? bc->port : 0);
}

void ie_raw_text(char *field, size_t size, const char *format, ...)
{
    if (!field || size == 0)
        return;
    va_list ap;
    va_start(ap, format);
    vsnprintf(field, size, format, ap);
    va_end(ap);
}

ie_text &ie_text::num(int v)
{
    char b[12];
    char *e = b + sizeof(b), *p = e;
    unsigned u = v < 0 ? 0u - (unsigned)v : (unsigned)v;
    do {
        *--p = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0)
        *--p = '-';
    return put(p, (size_t)(e - p));
}

ie_text &ie_text::hex(unsigned v)
{
    static const char digits[] = "0123456789abcdef";
    char b[8];
    char *e = b + sizeof(b), *p = e;
    do {
        *--p = digits[v & 15];
        v >>= 4;
    } while (v);
    return put(p, (size_t)(e - p));
}

ie_text &ie_text::base64(const unsigned char *data, int len)
{
    if (!ok || n >= cap || !data || len <= 0)
        return *this;
    n += (size_t)plaintext_to_base64((const char *)data, len, f + n, cap - n + 1);
    return *this;
}
