#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Run by hand after changing a target's input layout; the files are committed.
Files named found_* beside them are inputs with which a fuzz run found a
fault; this script leaves them alone.
Each seed is a small, meaningful session or file, so the fuzzer starts from
inputs that reach deep into the parsers instead of guessing the framing.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

STX, ETX, EOT, ACK, NAK = b"\x02", b"\x03", b"\x04", b"\x06", b"\x15"


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- OPL-98xx: choice byte, then what the scanner sends -----------------------

def frame(payload):
    return STX + payload + b"T0T0" + ETX


END = frame(EOT)


def opl_seeds():
    table = [b"SHOP.DAT;120;3", b"SIMPLE.DAT;0;0", b"EXPORT.CSV;400;2", b"UGS.TXT;300;1"]
    shop = [b"4711-0815                    000012", b"K1;4711;5                    000001",
            b"9000                         000003"]
    csv = [b"0001;0002;" + b"A" * 28 + b" 000010 31.01.2024 14:05:09",
           b"0001;0002;" + b"B" * 28 + b" 000020 31.01.2024 14:05:10"]
    ugs = [b"4711".ljust(28) + b" 000005 31.01.2024 14:05:09"]
    cycle = ACK + b"".join(frame(t) for t in table) + END
    for lines in (shop, csv, ugs):  # files 0, 2, 3 have records
        cycle += ACK + b"".join(frame(l) for l in lines) + END
    cycle += ACK  # HME0
    write("fuzz_opl_receive", "cycle_debug", b"\x01" + cycle)
    write("fuzz_opl_receive", "poll_nak", b"\x00" + NAK)
    hostile = [b"../../etc/passwd;1;1", b"a/b;1;1", b"\"..\";1;1", b"C:\\x;1;1", b'"A B.TXT";-5;+7']
    write("fuzz_opl_receive", "hostile_names",
          b"\x00" + ACK + b"".join(frame(t) for t in hostile) + END)
    write("fuzz_opl_receive", "bad_numbers", b"\x00" + ACK + frame(b"X.CSV;12a;1") + frame(b"Y;1") + END)
    # Files requested although the table is broken: a frame without ETX,
    # one without STX, one too long.
    write("fuzz_opl_receive", "broken_frames",
          b"\x3c" + ACK + frame(b"T.CSV;1;1") + b"\x02half" + ACK + b"xx" + ACK + STX + b"L" * 4100)
    write("fuzz_opl_receive", "short_frames", b"\x04" + ACK + STX + ETX + ACK + STX + b"a" + ETX + frame(b"") + END)


# --- OPN-2001: choices, buffer sizes, parameter, then the answers -------------

def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return (~crc) & 0xFFFF


assert crc16(b"\x01\x02\x00") == 0x9FDE


def answer(payload):
    body = b"\x06\x02" + payload + b"\x00"
    return body + struct.pack(">H", crc16(body))


def stamp(year, month, day, hour, minute, second):
    v = second << 26 | minute << 20 | hour << 15 | day << 10 | month << 6 | (year - 2000)
    return struct.pack(">I", v)


def record(symbology, code, st):
    return bytes([len(code) + 5, symbology]) + code + st


def interrogate(status):
    return answer(b"\x01" + bytes([status]) + b"12345678" + b"FW 1.00 ")


def parameter(param, value):
    return answer(b"\x02" + bytes([param, value]))


def opn_seeds():
    records = [record(0x0A, b"40123455", stamp(2024, 1, 31, 14, 5, 9)),
               record(0x03, b"K1;4711;5", stamp(2024, 12, 24, 0, 0, 0)),
               record(0x03, b"9000", stamp(2063, 2, 31, 12, 59, 59))]
    upload = answer(b"SN000001" + b"".join(records))
    good = (interrogate(0) * 2 + parameter(0x4F, 1) + parameter(0x23, 1) + upload * 2 + answer(b""))
    write("fuzz_opn_answers", "session", bytes([0, 100, 21, 0x4F]) + good)
    write("fuzz_opn_answers", "small_buffers", bytes([0, 8, 20, 0x23]) + good)
    empty = interrogate(22) + interrogate(22) + parameter(0x4F, 0) + parameter(0x23, 0) + answer(b"SN000002") * 2
    write("fuzz_opn_answers", "battery_low_empty", bytes([0, 64, 40, 0x4F]) + empty)
    # CRCs left zero: the repair bit sets them.
    zero_crc = b"".join(a[:-2] + b"\0\0" for a in (interrogate(0), interrogate(0), parameter(0x4F, 1),
                                                    parameter(0x23, 0), upload, upload, answer(b"")))
    write("fuzz_opn_answers", "repaired_crcs", bytes([1, 255, 30, 0x4F]) + zero_crc)
    bad_record = answer(b"SN000003" + b"\x03\x0a12")  # a record shorter than its stamp
    write("fuzz_opn_answers", "short_record",
          bytes([0, 100, 21, 0x4F]) + interrogate(0) * 2 + parameter(0x4F, 1) + parameter(0x23, 1) + bad_record)
    write("fuzz_opn_answers", "open_fails", bytes([2, 100, 21, 0x4F]) + good)
    write("fuzz_opn_answers", "clock", bytes([0, 100, 21, 0x4F]) + answer(b"\x06" + bytes([9, 5, 14, 31, 1, 24])))


# --- INI file: choice, value length, value, then the file ---------------------

def ini_seed(name, choice, value, text):
    write("fuzz_profile_file", name, bytes([choice, len(value)]) + value + text)


def profile_seeds():
    typical = (b"; VantorTrans\r\n[PORT]\r\nPort=COM3\r\nBaud=115200\r\nDevice=0\r\n\r\n"
               b"[PARAMETER]\r\nMinimize=0\r\nTaskBar=1\r\n[CSV]\r\nCsvPos=3,1,2,4,5,6\r\nSeparator=1\r\n"
               b"[Vantor]\r\nBrowser=3\r\nBrowserTitle=Chromium\r\nFormTitle=\"Bestellformular\"\r\n"
               b"[Directory]\r\nCSV=/tmp/\r\nUGS=/nonexistent/\r\n[Ports]\r\nCOM3=/dev/pts/4\r\n"
               b"[DEBUG]\r\nDebug=1\r\n")
    ini_seed("typical_baud", 1, b"19200", typical)
    ini_seed("typical_existing_key", 0x85, b"  neu  ", typical)
    cp1252 = b"[Options]\r\nPraefix=\xc4\xd6\xdc\r\n[Vantor]\r\nFormTitle=Bestellformular f\xfcr M\xfcller\r\n"
    ini_seed("cp1252_euro", 10, b"\x80 Stra\xdfe", cp1252)
    ini_seed("cp1252_needs_utf8", 0x40 | 15, "Ω".encode(), cp1252)
    ini_seed("no_last_line_end", 18, b"v", b"[PORT]\nPort=COM1\n[DEBUG]\nDebug=1")
    ini_seed("bom_lf_new_key", 19, b"x", b"\xef\xbb\xbf[PORT]\nBaud = 9600\n\n[Ports]\nCOM1 = /dev/ttyUSB0\n")
    ini_seed("duplicate_sections", 0x80 | 3, b"2",
             b"[PORT]\r\nPort=COM1\r\n[CSV]\r\nSeparator=9\r\nCsvPos=0,99,-4,x\r\n[PORT]\r\nPort=COM2\r\n")
    ini_seed("lone_cr_last_line", 0, b"COM7", b"[PORT]\r\nPort=COM1\r")


# --- text cutters: delimiter byte, then the text ------------------------------

def text_seeds():
    write("fuzz_text_cutters", "delimited", b';"a;b" c;;d  "x""y";')
    write("fuzz_text_cutters", "opl_record", b" 4711-0815                    000012")
    write("fuzz_text_cutters", "opl_record_semicolons", b"\tK1;4711;5                    000001 ")
    short_csv = b"0001;0002;" + b"Artikel 4711".ljust(28) + b" " + b"12".rjust(6) + b" 31.01.2024 14:05:09"
    write("fuzz_text_cutters", "csv_short", b"," + short_csv)
    long_csv = b"KST000000001 LAGER0000001 " + b"4711".ljust(28) + b" 000012 31.01.2024 14:05:09"
    write("fuzz_text_cutters", "csv_long", b"|" + long_csv)
    write("fuzz_text_cutters", "ugs", b" " + b"4711".ljust(28) + b"     5 31.01.2024 14:05:09")
    write("fuzz_text_cutters", "stamp_and_text", stamp(2024, 1, 31, 14, 5, 9) + b"02:05:09 PM 01/31/24\0" + b"\x15")
    write("fuzz_text_cutters", "cp1252_utf8", b"\x80\x81\x8d\x9f\xa0\xff" + "Grüße €".encode())


# --- exports: choices, separator, six column positions, then the working file --

def export_seeds():
    short = b"0001;0002;" + b"Artikel 4711".ljust(28) + b" " + b"12".rjust(6) + b" 31.01.2024 14:05:09"
    long = b"KST000000001 LAGER0000001 " + b"4711".ljust(28) + b" 000012 31.01.2024 14:05:09"
    ugs = b"4711".ljust(28) + b"     5 31.01.2024 14:05:09"
    write("fuzz_exports", "csv_both_layouts", bytes([0, 1, 2, 0, 1, 3, 4, 5]) + short + b"\r\n" + long + b"\r\n")
    write("fuzz_exports", "csv_twice_unknown_column", bytes([2, 4, 6, 6, 0, 0, 5, 1]) + short + b"\n" + b"kurz\n")
    write("fuzz_exports", "ugs_no_last_line_end", bytes([3, 0, 0, 1, 2, 3, 4, 5]) + b"zu kurz\r\n" + ugs + b"\r\n" + ugs)
    write("fuzz_exports", "cp1252_bytes", bytes([0, 3, 2, 2, 2, 2, 2, 2]) + ugs.replace(b"4711", b"\xc4\x80\x81\xff"))


# --- browser extension: piece size, chunk limit, then the host's frames ------

def host_frame(json_text):
    data = json_text.encode()
    return struct.pack("<I", len(data)) + data


def extension_seeds():
    hello = host_frame('{"type":"hello","browser":"chromium","version":"1.0"}')
    tabs = host_frame('{"id":1,"ok":true,"tabs":[{"tab":4,"window":1,"title":"Bestellformular",'
                      '"active":true,"focused":true},{"tab":5,"title":"Zeile 1\\r\\nZeile 2"}]}')
    ok = host_frame('{"id":2,"ok":true,"seq":1}')
    dup = host_frame('{"id":3,"ok":true,"seq":1,"duplicate":true}')
    refused = host_frame('{"id":4,"ok":false,"reason":"no-field"}')
    bad = host_frame('{"id":null,"ok":false,"reason":"bad-request"}')
    write("fuzz_extension_messages", "session", bytes([7, 4]) + hello + tabs + ok + dup + refused)
    write("fuzz_extension_messages", "broken_json", bytes([0, 1]) + hello + host_frame('{"id":') + bad)
    write("fuzz_extension_messages", "oversized", bytes([255, 0]) + hello + struct.pack("<I", 0x7FFFFFFF) + ok)


if __name__ == "__main__":
    opl_seeds()
    opn_seeds()
    profile_seeds()
    text_seeds()
    export_seeds()
    extension_seeds()
