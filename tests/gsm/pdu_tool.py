#!/usr/bin/python3
"""Test helper around python3-gammu: decodes the PDUs the library sends and
builds the PDUs a network would deliver.

  decode HEX...                 one line per PDU: number<TAB>text<TAB>udh-part/all
  deliver NUMBER CODING TEXT    SMS-DELIVER PDUs (with SMSC), one per line;
                                CODING: 7bit or ucs2; long texts are split
  deliver7udh NUMBER UDHHEX TEXT  one 7-bit SMS-DELIVER whose user data
                                starts with the given header (fill bits as
                                GSM 03.40 wants them)
  json FILE                     exits 0 when FILE holds valid JSON
"""
import datetime
import json
import sys

import gammu

BASE = {'SMSC': {'Location': 0, 'Number': '+491710760000', 'Validity': 'NA'},
        'Folder': 1, 'Location': 0, 'State': 'UnRead', 'Type': 'Deliver', 'InboxFolder': 1,
        'Memory': 'SM', 'DateTime': datetime.datetime(2024, 1, 2, 3, 4, 5),
        'SMSCDateTime': datetime.datetime(2024, 1, 2, 3, 4, 5)}


def decode(hexes):
    for h in hexes:
        d = gammu.DecodePDU(bytes.fromhex(h), SMSC=True)
        udh = d['UDH']
        print("%s\t%s\t%d/%d" % (d['Number'], d['Text'], udh['PartNumber'], udh['AllParts']))


def deliver(number, coding, text):
    info = {'Class': -1, 'Unicode': coding == 'ucs2',
            'Entries': [{'ID': 'ConcatenatedTextLong', 'Buffer': text}]}
    for part in gammu.EncodeSMS(info):
        sms = dict(BASE)
        sms.update(part)
        sms.update({'Number': number, 'SMSC': BASE['SMSC'], 'Type': 'Deliver'})
        print(gammu.EncodePDU(sms, 'Deliver').hex().upper())


GSM7 = ("@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1bÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
        "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà")


def deliver7udh(number, udh_hex, text):
    udh = bytes.fromhex(udh_hex)
    hdr_bits = len(udh) * 8
    fill = (7 - hdr_bits % 7) % 7
    septets = [GSM7.index(c) for c in text]
    bits = 0
    nbits = 0
    out = bytearray(udh)
    acc = 0
    pos = fill  # bit position inside the bytes after the header
    acc_bits = fill
    acc = 0
    for s in septets:
        acc |= s << acc_bits
        acc_bits += 7
        while acc_bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            acc_bits -= 8
    if acc_bits:
        out.append(acc & 0xFF)
    udl = (hdr_bits + fill) // 7 + len(septets)
    digits = number.lstrip('+')
    num = digits + ('F' if len(digits) % 2 else '')
    swapped = ''.join(num[i + 1] + num[i] for i in range(0, len(num), 2))
    pdu = "00" + "44" + "%02X" % len(digits) + "91" + swapped + "00" + "00"
    pdu += "42102030405000" + "%02X" % udl + out.hex().upper()
    print(pdu)


def main():
    cmd = sys.argv[1]
    if cmd == 'decode':
        decode(sys.argv[2:])
    elif cmd == 'deliver':
        deliver(sys.argv[2], sys.argv[3], sys.argv[4])
    elif cmd == 'deliver7udh':
        deliver7udh(sys.argv[2], sys.argv[3], sys.argv[4])
    elif cmd == 'json':
        with open(sys.argv[2]) as f:
            json.load(f)
    return 0


if __name__ == '__main__':
    sys.exit(main())
