#!/usr/bin/python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/seed-*.

Usage: make_seeds.py [CORPUS_DIR]

The seeds are kept in the repository; run this again after changing it.
Inputs a fuzzer found faults with are kept beside them as crash-* files and
are not touched here.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def reg_file():
    fixtures = os.path.join(HERE, "..", "fixtures")
    seeds = {}
    for name in sorted(os.listdir(fixtures)):
        if name.endswith(".reg"):
            with open(os.path.join(fixtures, name), "rb") as f:
                seeds["fixture-" + name[:-4]] = f.read()
    seeds["deletions"] = (b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"x\"=-\r\n@=-\r\n\r\n"
                          b"[-HKEY_LOCAL_MACHINE\\A\\C]\r\n; a comment\r\n")
    seeds["folded-hex"] = (b"REGEDIT4\n\n[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A2F40]\n"
                           b"\"Allocation\"=hex:00,00,00,00,01,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\\\n"
                           b"  00,00,00,00,f8,03,ff,03,00,00,00,00\n\"HardWareKey\"=\"Root\\\\Ports\\\\0001\"\n"
                           b"\"Problem\"=dword:00000000\n\"Odd\"=hex(7):41,00,00\n\n")
    seeds["root-values"] = b"REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n@=\"root\"\n\"quoted \\\"q\\\"\"=\"a\\\\b\"\n\n"
    # Names with a line break inside: refused, for export could not write them.
    seeds["cr-in-key-name"] = b"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fr\resh]\n\"a\"=\"1\"\n"
    seeds["cr-in-value-name"] = b"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fresh]\n\"b\rc\"=\"2\"\n"
    return seeds


def service_text():
    return {
        "ip": b"IP:server7:3",
        "ipx": b"IPX:00000012:00-00-1B-22-3C-4D:PRINTSRV",
        "ipx-explicit": b"IPX:0000000A:00-C0-F2-00-12-34:0000000A:00C0F2001234:0452",
        "ipx-short": b"IPX:0012:00",
        "ipx-signs": b"IPX:+0x12345:-1-ff-0x-7-8-9:NAME",
        "list-ip": b"[IP ]host.example:12",
        "list-ipx": b"[IPX]PRINTSRV",
        "address": b"FFFFFFFF:FF-FF-FF-FF-FF-FF:",
        "long-name": b"IP:" + b"n" * 47,
        "ip-without-name": b"IP:",
        "empty": b"",
    }


def sap_entry(name, server_type=0x052C, network=0x0A, node=b"\x7f\x00\x00\x01\x53\x14", socket=0x4000):
    return (struct.pack(">H", server_type) + name.ljust(48, b"\0") + struct.pack(">I", network) + node
            + struct.pack(">HH", socket, 1))


def sap_answer():
    answer = b"\x00\x02"
    seeds = {
        "lookup-match": b"\x01" + answer + sap_entry(b"PRINTSRV"),
        "poll-one": b"\x00" + answer + sap_entry(b"PORTSRV"),
        "poll-seven": b"\x00" + answer + b"".join(sap_entry(b"DEV%d" % i) for i in range(7)),
        "poll-others": b"\x00" + answer + sap_entry(b"MAIL@HOST") + sap_entry(b"FILESRV", 0x0004)
        + sap_entry(b"PORT-SERVER 1"),
        "lookup-other-type": b"\x01" + answer + sap_entry(b"PRINTSRV", 0x0004),
        "short-rest": b"\x00" + answer + sap_entry(b"A") + b"\x05\x2c" + b"B" * 20,
        "too-short": b"\x00" + answer + b"\x05\x2c",
    }
    return seeds


def spx(control, datastream, src, dst, seq, ack, alloc, data=b""):
    return struct.pack(">BBHHHHH", control, datastream, src, dst, seq, ack, alloc) + data


def packet(flags, body):
    payload = bytes([flags]) + body
    return bytes([len(payload)]) + payload


def spx_packet():
    peer = 0x4242
    data = packet(3, spx(0x10, 0, peer, 0, 0, 0, 8, b"hello"))
    second = packet(3, spx(0x10, 0, peer, 0, 1, 0, 8, b" world"))
    early = packet(3, spx(0x10, 0, peer, 0, 3, 0, 8, b"ahead of a gap"))
    watchdog = packet(3, spx(0xC0, 0, peer, 0, 0, 0, 8))
    end = packet(3, spx(0x50, 0xFE, peer, 0, 2, 0, 8))
    end_ack = packet(3, spx(0x00, 0xFF, peer, 0, 0, 1, 8))
    reset = packet(3, spx(0x00, 0xFE, peer, 0, 0, 0, 8))
    ack = packet(3, spx(0x80, 0, peer, 0, 0, 1, 16))
    seeds = {}
    for state, name in enumerate(["connecting", "initiator", "listener", "closing", "finished"]):
        seeds[name + "-data"] = bytes([state]) + data + second + early
        seeds[name + "-end"] = bytes([state]) + watchdog + ack + end + end_ack
    seeds["listener-reset"] = bytes([2]) + data + reset
    seeds["listener-wrap"] = bytes([2]) + packet(3, spx(0x10, 0, peer, 0, 0xFFFF, 0xFFF0, 0x0002, b"w"))
    seeds["other-type"] = bytes([2]) + packet(7 | (4 << 3), spx(0x10, 0, peer, 0, 0, 0, 8, b"x"))
    return seeds


def frame(op, body, reply=False):
    payload = bytes([1, op | (0x80 if reply else 0)]) + body
    return struct.pack("<I", len(payload)) + payload


def text(s):
    return b"\x00" + struct.pack("<I", 0) if s is None else b"\x01" + struct.pack("<I", len(s)) + s


def mailbox_frame():
    return {
        "find": frame(1, text(b"kolm32") + text(b"kolm32")),
        "find-any-title": frame(1, text(b"kolm32") + text(None)),
        "find-reply": frame(1, struct.pack("<I", 0x00A3C001), True),
        "query": frame(2, struct.pack("<I", 0x00A3C001)),
        "query-reply": frame(2, b"\x01" + struct.pack("<5I", 7, 0x10CF0000, 0, 0, 0) + text(b"kolm32")
                             + text(b"kolm32"), True),
        "send-text": frame(3, struct.pack("<IIQq", 0x00A3C001, 1175, 0x1901, 0) + b"\x01" + text(b"Hello")),
        "send-number": frame(3, struct.pack("<IIQq", 0x00A3C001, 1181, 0, 0) + b"\x00" + text(None)),
        "send-get-text": frame(3, struct.pack("<IIQq", 0x00A3C001, 0x000D, 256, 0) + b"\x00" + text(None)),
        "send-sel-items": frame(3, struct.pack("<IIQq", 0x00A3C001, 0x0191, 8, 0) + b"\x00" + text(None)),
        "send-private-text": frame(3, struct.pack("<IIQq", 0x00A3C001, 0x0405, 1, 0) + b"\x01" + text(b"note")),
        "send-reply": frame(3, b"\x00" + struct.pack("<Iq", 0, 5) + text(b"out"), True),
        "post": frame(4, struct.pack("<IIQq", 0x00A3C001, 2, 0, 0)),
        "post-reply": frame(4, b"\x01" + struct.pack("<I", 1400), True),
    }


TARGETS = {"reg_file": reg_file, "service_text": service_text, "sap_answer": sap_answer,
           "spx_packet": spx_packet, "mailbox_frame": mailbox_frame}


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    for target, make in TARGETS.items():
        folder = os.path.join(corpus, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in make().items():
            with open(os.path.join(folder, "seed-" + name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
