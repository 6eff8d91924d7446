"""Coding of CSM frames and CSME addresses, written from the message layouts.

A frame is an 8-byte header (length, index, type, class, function code low
byte first, reserved word) and a payload of fields whose places are written
as in the layout tables. The same place texts serve to read a command the
daemon sent and to write the answers and indications the device sends.
"""
import functools
import re
import struct

from csm_layouts import COMMANDS, DIAGNOSTIC_NAMES, FUNCTION_NAMES, RESULT_NAMES

ADDR_SIZE = 20
TYPE_COMMAND, TYPE_QUERY, TYPE_RESPONSE, TYPE_INDICATION, TYPE_QUERY_RESPONSE = 0, 1, 2, 3, 4
TYPE_DIAG_RESPONSE = 121
CLASS_CHANNEL, CLASS_DEVICE = 2, 6
DEVICE_CHANNEL = 0xFFFF
ERROR_REPORT = 0x001E


def function_name(code):
    if code in DIAGNOSTIC_NAMES:
        return DIAGNOSTIC_NAMES[code]
    return FUNCTION_NAMES.get(code, "Unknown function code")


def result_name(code):
    return RESULT_NAMES.get(code, "Unknown result code")


def code_of(text):
    """A function code given as a number, a number text or a name."""
    if isinstance(text, int):
        return text
    text = str(text).strip()
    if re.fullmatch(r"(0x)?[0-9A-Fa-f]+", text):
        return int(text, 16) if text.lower().startswith("0x") else int(text)
    for table in (FUNCTION_NAMES, DIAGNOSTIC_NAMES):
        for code, name in table.items():
            if name == text:
                return code
    raise ValueError("unknown function code %r" % text)


# ---------------------------------------------------------------------------
# Addresses

def unpack_addr(data):
    family, _pad, ifindex = struct.unpack_from("<HHi", data, 0)
    return {
        "family": family,
        "ifindex": ifindex,
        "devmac": ":".join("%02x" % b for b in data[8:14]),
        "opcode": data[14] << 8 | data[15],
        "channel": data[16] << 8 | data[17],
        "flags": "%02x %02x" % (data[18], data[19]),
    }


def pack_addr(family, ifindex, devmac, channel):
    mac = bytes(int(x, 16) for x in devmac.split(":"))
    return (struct.pack("<HHi", family, 0, ifindex) + mac + b"\x00\x01" +
            bytes([(channel >> 8) & 0xFF, channel & 0xFF]) + b"\x01\x00")


# ---------------------------------------------------------------------------
# Field places

@functools.lru_cache(maxsize=None)
def _bit_segments(place):
    """(Worked out once per place text: every frame reads the same places.)
    The place as [(first frame bit, width, first value bit)], bits counted
    from bit 0 of byte 0 upward (low byte first); or ("BE", first, count)
    for a value written high byte first."""
    p = place.replace(" (ORed)", "")
    m = re.fullmatch(r"bytes (\d+)-(\d+) (LE|BE)", p)
    if m:
        a, b = int(m.group(1)), int(m.group(2))
        if m.group(3) == "BE":
            return ("BE", a, b - a + 1)
        return [(a * 8, (b - a + 1) * 8, 0)]
    m = re.fullmatch(r"byte (\d+)", p)
    if m:
        return [(int(m.group(1)) * 8, 8, 0)]
    m = re.fullmatch(r"byte (\d+) bit (\d+)", p)
    if m:
        return [(int(m.group(1)) * 8 + int(m.group(2)), 1, 0)]
    m = re.fullmatch(r"byte (\d+) bits (\d+)-(\d+)", p)
    if m:
        lo, hi = int(m.group(2)), int(m.group(3))
        return [(int(m.group(1)) * 8 + lo, hi - lo + 1, 0)]
    m = re.fullmatch(r"byte (\d+) bit (\d+) to byte (\d+) bit (\d+) \(LE\)", p)
    if m:
        first = int(m.group(1)) * 8 + int(m.group(2))
        last = int(m.group(3)) * 8 + int(m.group(4))
        return [(first, last - first + 1, 0)]
    if p.startswith("value bits"):
        segs = []
        for part in p.split("; "):
            m = re.fullmatch(r"value bits (\d+)-(\d+) at byte (\d+) bit (\d+)\.\.byte (\d+) bit (\d+)", part)
            if not m:
                raise ValueError("place %r" % place)
            vlo, vhi = int(m.group(1)), int(m.group(2))
            segs.append((int(m.group(3)) * 8 + int(m.group(4)), vhi - vlo + 1, vlo))
        return segs
    m = re.fullmatch(r"byte (\d+) \(bits 0-7 of the value\); bits 8-9 of the value ORed into "
                     r"byte (\d+) bits 0-1 and into byte (\d+) bits 0-1", p)
    if m:
        # The high bits are read from the byte that holds nothing else there.
        return [(int(m.group(1)) * 8, 8, 0), (int(m.group(3)) * 8, 2, 8)]
    raise ValueError("place %r" % place)


@functools.lru_cache(maxsize=None)
def place_end(place):
    """One past the last byte a place touches."""
    segs = _bit_segments(place)
    if isinstance(segs, tuple):
        return segs[1] + segs[2]
    return max((first + width + 7) // 8 for first, width, _ in segs)


def read_place(frame, place):
    return _read_segments(frame, _bit_segments(place))


def _read_segments(frame, segs):
    if isinstance(segs, tuple):
        _, first, count = segs
        return int.from_bytes(frame[first:first + count], "big")
    value = 0
    for first, width, vfirst in segs:
        # Bits count upward from bit 0 of byte 0: a little-endian number.
        low, high = first // 8, (first + width + 7) // 8
        bits = int.from_bytes(frame[low:high], "little") >> (first % 8)
        value |= (bits & ((1 << width) - 1)) << vfirst
    return value


def write_place(frame, place, value):
    segs = _bit_segments(place)
    if isinstance(segs, tuple):
        _, first, count = segs
        frame[first:first + count] = (value & ((1 << (8 * count)) - 1)).to_bytes(count, "big")
        return
    for first, width, vfirst in segs:
        for i in range(width):
            bit = first + i
            if value >> (vfirst + i) & 1:
                frame[bit // 8] |= 1 << (bit % 8)
            else:
                frame[bit // 8] &= ~(1 << (bit % 8)) & 0xFF


# ---------------------------------------------------------------------------
# Frames

def header(frame):
    if len(frame) < 8:
        return None
    return {
        "length": frame[0], "index": frame[1], "type": frame[2], "class": frame[3],
        "fc": frame[4] | frame[5] << 8, "reserved": frame[6] | frame[7] << 8,
    }


def build(fc, index, ctype, cls, payload_len, fields=(), values=None):
    """A frame of 8 + payload_len bytes with the header and the named places."""
    frame = bytearray(8 + payload_len)
    frame[0] = len(frame) & 0xFF
    frame[1] = index & 0xFF
    frame[2] = ctype
    frame[3] = cls
    frame[4] = fc & 0xFF
    frame[5] = fc >> 8 & 0xFF
    values = values or {}
    for name, place in fields:
        if name in values:
            write_place(frame, place, int(values[name]))
    return frame


# Commands sent with a length of their own choosing.
VARIABLE_LENGTH = {0x806E, 0x806F, 0x8039, 0x803A, 0x803B, 0x8200, 0x8201, 0x8046, 0x9402, 0x9403}
VOPENA = 0x8000

# Queries the daemon builds: function code -> frame length.
QUERIES = {0x0000: 8, 0x0010: 10, 0x0021: 8, 0x0025: 8, 0x0031: 8, 0x0408: 8, 0x040F: 8,
           0x800C: 8, 0x9312: 10}

# Statistics queries: (class, type) of the header-only query.
STAT_QUERIES = {(5, 0x91), (1, 7), (1, 35), (1, 24)}


def decode_command(frame):
    """Reads a frame the daemon sent: its header, its fields by name, and the
    problems found against the layouts."""
    h = header(frame)
    if h is None:
        return None, {}, ["frame of %d bytes, shorter than the header" % len(frame)]
    problems = []
    if h["length"] != len(frame):
        problems.append("length byte %d but %d bytes sent" % (h["length"], len(frame)))
    fields = {}
    fc, ctype, cls = h["fc"], h["type"], h["class"]
    if (cls, ctype) in STAT_QUERIES:
        if len(frame) != 8:
            problems.append("statistics query of %d bytes" % len(frame))
        return h, fields, problems
    if ctype == TYPE_QUERY:
        if fc not in QUERIES:
            problems.append("no query with function code 0x%04x" % fc)
        elif len(frame) != QUERIES[fc]:
            problems.append("query of %d bytes, %d expected" % (len(frame), QUERIES[fc]))
        if len(frame) >= 10 and fc == 0x0010:
            fields["timeslot"] = frame[8] | frame[9] << 8
        if len(frame) >= 10 and fc == 0x9312:
            fields["participant_id"] = frame[8] | frame[9] << 8
        return h, fields, problems
    layout = COMMANDS.get(fc)
    if layout is None:
        # Commands of the set whose fields the daemon never fills are taken
        # as they come; a code outside the set is a fault.
        if fc not in FUNCTION_NAMES and fc not in DIAGNOSTIC_NAMES:
            problems.append("unknown function code 0x%04x" % fc)
        return h, fields, problems
    name, _record, lcls, ltype, llen, lfields = layout
    if cls != lcls or ctype != ltype:
        problems.append("class %d type %d, layout says class %d type %d" % (cls, ctype, lcls, ltype))
    # VOPENA's short forms: mode 2 (12 bytes) and the tone engine, mode 13
    # with the mode word alone (10 bytes).
    mode = frame[8] | frame[9] << 8 if fc == VOPENA and len(frame) >= 10 else -1
    short_vopena = mode == 2 or (mode == 13 and len(frame) == 10)
    if fc not in VARIABLE_LENGTH and len(frame) != llen and not short_vopena:
        problems.append("%s of %d bytes, layout length %d" % (name, len(frame), llen))
    for fname, end, segs in _readers(fc, lfields):
        if end <= len(frame):
            fields[fname] = _read_segments(frame, segs)
    return h, fields, problems


_READERS = {}


def _readers(fc, lfields):
    """A command's fields as (name, end, segments), worked out once."""
    r = _READERS.get(fc)
    if r is None:
        r = _READERS[fc] = [(f[0], place_end(f[1]), _bit_segments(f[1])) for f in lfields]
    return r


def layout_defaults(fc):
    """The constructor defaults of a command's fields."""
    return {f[0]: f[3] for f in COMMANDS[fc][5] if f[3] is not None}


# ---------------------------------------------------------------------------
# What the device sends: places of the answer and indication fields.

# Command responses with more than the result code: fc -> (length, fields).
RESPONSES = {
    0x0010: (14, [("response_code", "bytes 8-9 LE"), ("channel_number", "bytes 10-11 LE"),
                  ("timeslot", "bytes 12-13 LE")]),
    0x0101: (24, [("protocol_identifier", "byte 8 bits 0-1"), ("header_size", "byte 9"),
                  ("hostmac_1", "bytes 10-11 LE"), ("hostmac_2", "bytes 12-13 LE"),
                  ("hostmac_3", "bytes 14-15 LE"), ("assigned_mac_1", "bytes 16-17 LE"),
                  ("assigned_mac_2", "bytes 18-19 LE"), ("assigned_mac_3", "bytes 20-21 LE"),
                  ("assigned_packet_type", "bytes 22-23 LE")]),
    0x9310: (12, [("response_code", "bytes 8-9 LE"), ("conference_id", "bytes 10-11 LE")]),
    0x9331: (18, [("response_code", "bytes 8-9 LE"), ("preamble_suppress", "byte 10 bit 0"),
                  ("emac_number", "byte 11"), ("target_mmd_device_address", "bytes 12-13 LE"),
                  ("target_register_address", "bytes 14-15 LE"),
                  ("register_data_value", "bytes 16-17 LE")]),
}
for _fc in (0x9312, 0x9313, 0x9314, 0x9315):
    RESPONSES[_fc] = (14, [("response_code", "bytes 8-9 LE"), ("participant_id", "bytes 10-11 LE"),
                           ("conference_id", "bytes 12-13 LE")])
GENERIC_RESPONSE = (10, [("response_code", "bytes 8-9 LE")])

ERROR_REPORT_FIELDS = (18, [("error_code", "bytes 8-9 LE"), ("original_channel_id", "bytes 10-11 LE"),
                            ("original_msg_length", "byte 12"), ("original_index", "byte 13"),
                            ("original_cmd_type", "byte 14"), ("original_cmd_class", "byte 15"),
                            ("original_function_code", "bytes 16-17 LE")])

# Query responses (type 4): fc -> (length, fields).
QUERY_RESPONSES = {
    0x0010: (16, [("channel_id", "bytes 8-9 LE"), ("channel_type", "bytes 10-11 LE"),
                  ("timeslot", "bytes 12-13 LE"), ("conference_id", "bytes 14-15 LE")]),
    0x0031: (10, [("processor_id", "bytes 8-9 LE")]),
    0x0408: (10, []),
    0x040F: (14, [("heartbeat_period", "bytes 8-9 LE"), ("arm1_status", "byte 10 bit 2"),
                  ("dsp0_status", "byte 10 bit 3"), ("dsp1_status", "byte 10 bit 4"),
                  ("dsp2_status", "byte 10 bit 5"), ("dsp3_status", "byte 10 bit 6"),
                  ("dsp4_status", "byte 10 bit 7"), ("dsp5_status", "byte 11 bit 0"),
                  ("alert_status", "byte 11 bit 7"), ("alert_type", "bytes 12-13 LE")]),
    0x800C: (52, [(n, "bytes %d-%d LE" % (8 + 4 * i, 11 + 4 * i)) for i, n in enumerate((
        "statistics_version", "timestamp", "sender_packet_count", "sender_byte_count", "ssrc_remote",
        "number_fraction_lost_packets", "extended_highest_sequence_number_received",
        "inter_arrival_jitter", "received_packet_count", "received_byte_count", "ssrc_local"))]),
    0x9312: (16, [("participant_id", "bytes 8-9 LE"), ("participant_type", "bytes 10-11 LE"),
                  ("timeslot", "bytes 12-13 LE"), ("conference_id", "bytes 14-15 LE")]),
}

# Indications (type 3): fc -> (class, length, fields).
INDICATIONS = {
    0x0408: (6, 10, [("tdm_bus_0_working", "byte 8 bit 0"), ("tdm_bus_1_working", "byte 8 bit 1"),
                     ("tdm_bus_2_working", "byte 8 bit 2"), ("tdm_bus_3_working", "byte 8 bit 3"),
                     ("gps_50hz_clock_detected", "byte 9 bit 0"),
                     ("gps_8khz_clock_detected", "byte 9 bit 1")]),
    0x04F7: (6, 10, [("response_code", "byte 8 bit 0")]),
    0x800D: (2, 16, [("tone_detect_value", "bytes 8-9 LE"), ("timestamp_lsb", "bytes 10-11 LE"),
                     ("timestamp_msb", "bytes 12-13 LE"), ("power_level", "bytes 14-15 LE")]),
    0x800E: (2, 12, [("ssrc_1", "bytes 8-9 LE"), ("ssrc_2", "bytes 10-11 LE")]),
    0x800F: (2, 10, [("payload_type", "bytes 8-9 LE")]),
    0x8010: (2, 10, [("tone_complete_cause", "bytes 8-9 LE")]),
    0x8011: (2, 10, [("relay_state", "bytes 8-9 LE")]),
    0x8017: (2, 14, [("tone_detected_indication", "bytes 8-9 LE"), ("timestamp_lsb", "bytes 10-11 LE"),
                     ("timestamp_msb", "bytes 12-13 LE")]),
    0x8020: (2, 20, [("nte_payload_event", "byte 8"), ("nte_payload_e_flag", "byte 9 bit 7"),
                     ("nte_payload_duration", "bytes 10-11 BE"),
                     ("payload_type_override", "bytes 12-13 LE"), ("payload_type", "bytes 14-15 LE"),
                     ("ssrc_high", "bytes 16-17 LE"), ("ssrc_low", "bytes 18-19 LE")]),
    0x8027: (2, 12, [("ssrc_low", "bytes 8-9 LE"), ("ssrc_high", "bytes 10-11 LE")]),
    0x802F: (2, 14, [("timestamp", "bytes 10-13 LE")]),
    0x803D: (2, 10, [("cli_complete_reason", "bytes 8-9 LE")]),
    0x805C: (2, 10, [("remote_packet_type", "byte 8"), ("event", "byte 9")]),
    0x806D: (2, 16, [(n, "byte 8 bit %d" % i) for i, n in enumerate((
        "ans_early_detection_2100Hz", "ans_confirmed_detection_2100Hz", "ansam_15Hz",
        "phase_reverseal_2100Hz", "bell_ans", "v32_aa_pre_standard_1800Hz",
        "ip_programmable_tone_detected"))] + [(n, "byte 9 bit %d" % i) for i, n in enumerate((
            "ip_generic_390", "ip_generic_980", "ip_generic_1270", "ip_generic_1300", "ip_generic_1650",
            "ip_generic_tone2", "ip_generic_tone1", "ip_generic_tone0"))] + [
        ("timestamp_1", "bytes 10-11 LE"), ("timestamp_2", "bytes 12-13 LE"),
        ("power_level", "bytes 14-15 LE")]),
    0x80BA: (2, 10, [("lock_state", "byte 8 bit 0")]),
    0x9041: (2, 16, [("tone_id", "bytes 8-9 LE"), ("remote_timestamp_lsb", "bytes 10-11 LE"),
                     ("remote_timestamp_msb", "bytes 12-13 LE"), ("power_level", "bytes 14-15 LE")]),
    0x9333: (6, 16, [("emac_number", "bytes 8-9 LE"), ("mdio_bus_number", "bytes 10-11 LE"),
                     ("target_device_address", "bytes 12-13 LE"), ("link_mode", "bytes 14-15 LE")]),
}
INDICATIONS[0x9042] = INDICATIONS[0x9041]


def indication(fc, values=None, index=0):
    """An indication frame; FC_CNDRXMSG takes "msg_byte" (a list of bytes)
    and the synchronisation indications "payload" (a list of words)."""
    values = dict(values or {})
    if fc == 0x80AD:
        data = bytes(values.get("msg_byte", []))
        frame = build(fc, index, TYPE_INDICATION, CLASS_CHANNEL, 4 + len(data),
                      [("msg_status_field", "bytes 8-9 LE"), ("msg_type_id", "byte 10")], values)
        frame[11] = int(values.get("msg_byte_count", len(data))) & 0xFF
        frame[12:] = data
        return frame
    if fc in (0x9402, 0x9403):
        words = values.get("payload", [])
        frame = build(fc, index, TYPE_INDICATION, CLASS_CHANNEL, 2 * len(words))
        for i, w in enumerate(words):
            struct.pack_into("<H", frame, 8 + 2 * i, w & 0xFFFF)
        return frame
    if fc not in INDICATIONS:
        raise ValueError("no indication layout for 0x%04x" % fc)
    cls, length, fields = INDICATIONS[fc]
    return build(fc, index, TYPE_INDICATION, cls, length - 8, fields, values)


def decode_answer(frame):
    """The fields of a frame the device sends, read with the same places."""
    h = header(frame)
    if h is None:
        return None, {}
    fc, ctype = h["fc"], h["type"]
    table = None
    if ctype == TYPE_RESPONSE:
        table = ERROR_REPORT_FIELDS if fc == ERROR_REPORT else RESPONSES.get(fc, GENERIC_RESPONSE)
        table = table[1]
    elif ctype == TYPE_QUERY_RESPONSE and fc in QUERY_RESPONSES:
        table = QUERY_RESPONSES[fc][1]
    elif ctype == TYPE_INDICATION and fc in INDICATIONS:
        table = INDICATIONS[fc][2]
    fields = {}
    if fc == 0x0021 and ctype == TYPE_QUERY_RESPONSE:
        fields["arm_code_version"] = bytes(frame[8:24]).split(b"\0")[0].decode("latin-1")
    if fc == 0x0025 and ctype == TYPE_RESPONSE:
        fields["data"] = bytes(frame[16::2]).split(b"\0")[0].decode("latin-1")
    for name, place in table or []:
        if place_end(place) <= len(frame):
            fields[name] = read_place(frame, place)
    return h, fields
