#!/usr/bin/env python3
"""An independent SAP client: queries devsim over the IPX segment's UDP wire
format with nothing but the socket module, and checks the answers.

    sap_client_test.py --devsim PATH [CASE...] | --list

Each run uses a segment of its own (a private multicast group and port),
and each case a client of its own on it.
"""

import argparse
import functools
import os
import random
import select
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e"))
from e2e_cases import cli, run_cases  # noqa: E402

IFACE = "127.0.0.1"
NETWORK = 0x0000000A
SAP_SOCKET = 0x0452
BCAST_NODE = b"\xff" * 6
BOUND = 10.0  # seconds: the most any expected answer may take


def private_group():
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    probe.bind((IFACE, 0))
    port = probe.getsockname()[1]
    probe.close()
    return "239.255.%d.%d" % (random.randint(1, 254), random.randint(1, 254)), port


def ipx_header(length, ptype, dst_net, dst_node, dst_sock, src_net, src_node, src_sock):
    return (struct.pack(">HHBB", 0xFFFF, length, 0, ptype)
            + struct.pack(">I", dst_net) + dst_node + struct.pack(">H", dst_sock)
            + struct.pack(">I", src_net) + src_node + struct.pack(">H", src_sock))


class Client:
    """One station on the segment, as another program would be."""

    def __init__(self, group, port):
        self.group = (group, port)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((IFACE, 0))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(IFACE))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        self.node = socket.inet_aton(IFACE) + struct.pack(">H", self.sock.getsockname()[1])

    def query(self, server_type=0x052C, src_sock=0x4001, operation=1, to_node=None, checksum=0xFFFF):
        body = struct.pack(">HH", operation, server_type)
        dst_node = to_node or BCAST_NODE
        pkt = bytearray(ipx_header(30 + len(body), 4, 0, dst_node, SAP_SOCKET,
                                   NETWORK, self.node, src_sock) + body)
        struct.pack_into(">H", pkt, 0, checksum)
        if to_node:
            dest = (socket.inet_ntoa(to_node[:4]), struct.unpack(">H", to_node[4:])[0])
        else:
            dest = self.group
        self.sock.sendto(bytes(pkt), dest)

    def receive(self, wait):
        """One answer datagram, or None when nothing comes within `wait` s."""
        ready, _, _ = select.select([self.sock], [], [], wait)
        if not ready:
            return None
        data = self.sock.recv(2048)
        check, length, _tc, ptype = struct.unpack(">HHBB", data[:6])
        assert check == 0xFFFF, "checksum %04X" % check
        assert 30 <= length <= len(data) <= 576, "length %d of %d" % (length, len(data))
        dst_sock = struct.unpack(">H", data[16:18])[0]
        src_sock = struct.unpack(">H", data[28:30])[0]
        assert src_sock == SAP_SOCKET, "answer from socket %04X" % src_sock
        response = struct.unpack(">H", data[30:32])[0]
        entries = []
        for off in range(32, length - 63, 64):
            e = data[off:off + 64]
            entries.append({
                "type": struct.unpack(">H", e[0:2])[0],
                "name": e[2:50].rstrip(b"\0").decode("latin-1"),
                "net": struct.unpack(">I", e[50:54])[0],
                "node": e[54:60],
                "socket": struct.unpack(">H", e[60:62])[0],
                "hops": struct.unpack(">H", e[62:64])[0],
            })
        return {"ptype": ptype, "dst_sock": dst_sock, "response": response, "entries": entries}

    def collect(self, count):
        """Answer datagrams until `count` entries have come (bounded)."""
        answers, got = [], 0
        end = time.monotonic() + BOUND
        while got < count:
            a = self.receive(max(0.0, end - time.monotonic()))
            assert a is not None, "only %d of %d entries arrived" % (got, count)
            answers.append(a)
            got += len(a["entries"])
        return answers

    def nothing_queued(self):
        ready, _, _ = select.select([self.sock], [], [], 0)
        return not ready


class Devsim:
    def __init__(self, path, env, args):
        self.proc = subprocess.Popen([path] + args, env=env, stdout=subprocess.PIPE)
        self.lines = []
        fd = self.proc.stdout.fileno()
        pending = b""
        end = time.monotonic() + BOUND
        while b"ready\n" not in pending:
            ready, _, _ = select.select([fd], [], [], max(0.0, end - time.monotonic()))
            assert ready, "devsim did not get ready"
            chunk = os.read(fd, 4096)
            assert chunk, "devsim ended before it was ready"
            pending += chunk
        self.lines = [l.split() for l in pending.decode().splitlines() if l and l != "ready"]
        self.node = None
        for words in self.lines:
            if words[0] == "sap":
                self.node = bytes.fromhex(words[2].split(":")[1])

    def stop(self):
        self.proc.terminate()
        assert self.proc.wait(timeout=BOUND) == 0, "devsim did not end cleanly"


class Segment:
    """The run's private segment, and devsim's path."""

    def __init__(self, devsim):
        self.devsim = devsim
        self.group, self.port = private_group()
        self.env = dict(os.environ, KOLM_IPX_IF=IFACE, KOLM_IPX_GROUP="%s:%d" % (self.group, self.port),
                        KOLM_IPX_NET="%08X" % NETWORK)


def with_client(case):
    """A case run with devsim's path, the segment's environment and a
    client of its own."""
    @functools.wraps(case)
    def run(segment):
        client = Client(segment.group, segment.port)
        try:
            case(segment.devsim, segment.env, client)
        finally:
            client.sock.close()
    return run


def names(answers):
    return sorted(e["name"] for a in answers for e in a["entries"])


@with_client
def case_general_query(path, env, client):
    d = Devsim(path, env, ["--sap", "PORTSRV1", "--sap", "PORTSRV2,5000",
                           "--sap-other", "PRINTER,0004", "--sap", "NAME@HOST"])
    try:
        client.query()
        answers = client.collect(4)
        assert names(answers) == ["NAME@HOST", "PORTSRV1", "PORTSRV2", "PRINTER"], names(answers)
        a = answers[0]
        assert a["response"] == 2 and a["dst_sock"] == 0x4001, a
        by_name = {e["name"]: e for e in a["entries"]}
        assert by_name["PORTSRV2"]["socket"] == 0x5000
        assert by_name["PORTSRV1"]["socket"] >= 0x4000
        assert by_name["PRINTER"]["type"] == 0x0004 and by_name["PORTSRV1"]["type"] == 0x052C
        for e in a["entries"]:
            assert e["net"] == NETWORK and e["node"] == d.node, e

        # Asked for one other type, only the entries of other types come.
        client.query(server_type=0x0004, src_sock=0x4002)
        only = client.collect(1)
        assert names(only) == ["PRINTER"] and only[0]["dst_sock"] == 0x4002, only

        # A directed query to devsim's node is answered like a broadcast one.
        client.query(to_node=d.node, src_sock=0x4003)
        assert names(client.collect(4)) == names(answers)

        # A nearest query gets one entry in a nearest response.
        client.query(operation=3, src_sock=0x4004)
        near = client.collect(1)
        assert near[0]["response"] == 4 and len(near[0]["entries"]) == 1, near
    finally:
        d.stop()


@with_client
def case_split_answers(path, env, client):
    args = []
    for i in range(5):
        args += ["--sap", "SPLIT%d" % i]
    d = Devsim(path, env, args + ["--sap-split", "2"])
    try:
        client.query()
        answers = client.collect(5)
        assert sorted(len(a["entries"]) for a in answers) == [1, 2, 2], answers
        assert names(answers) == ["SPLIT%d" % i for i in range(5)]
    finally:
        d.stop()


@with_client
def case_seven_per_datagram(path, env, client):
    args = []
    for i in range(9):
        args += ["--sap", "MANY%d" % i]
    d = Devsim(path, env, args)
    try:
        client.query()
        answers = client.collect(9)
        assert sorted(len(a["entries"]) for a in answers) == [2, 7], answers
    finally:
        d.stop()


@with_client
def case_bcast_only_and_framing(path, env, client):
    d = Devsim(path, env, ["--sap", "BONLY", "--sap-bcast-only"])
    try:
        # Sent first, a directed query (or a malformed one) would be answered
        # first: devsim handles its datagrams in order and answers from one
        # socket. So the broadcast's answer must be the only one.
        client.query(to_node=d.node, src_sock=0x4011)
        client.query(src_sock=0x4012, checksum=0x1234)
        client.query(src_sock=0x4013)
        first = client.collect(1)
        assert first[0]["dst_sock"] == 0x4013, first
        assert client.nothing_queued(), "a directed or malformed query was answered"
    finally:
        d.stop()


@with_client
def case_silent(path, env, client):
    d = Devsim(path, env, ["--sap", "QUIET", "--sap-silent"])
    try:
        client.query()
        # The one check that must wait out a bound: nothing may come.
        assert client.receive(1.0) is None, "a silent devsim answered"
    finally:
        d.stop()


@with_client
def case_advertised_address_override(path, env, client):
    d = Devsim(path, env, ["--sap", "ELSEWHERE,1234", "--sap-net", "00C0FFEE",
                           "--sap-node", "0000C0A80A01"])
    try:
        assert d.lines[0][2] == "00C0FFEE:0000C0A80A01:1234", d.lines
        client.query()
        e = client.collect(1)[0]["entries"][0]
        assert (e["net"], e["node"], e["socket"]) == (0x00C0FFEE, bytes.fromhex("0000C0A80A01"), 0x1234), e
    finally:
        d.stop()


CASES = [case_general_query, case_split_answers, case_seven_per_datagram, case_bcast_only_and_framing,
         case_advertised_address_override, case_silent]


def run(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--devsim", required=True)
    ap.add_argument("cases", nargs="*")
    args = ap.parse_intermixed_args(argv)
    return run_cases(CASES, Segment(args.devsim), set(args.cases))


if __name__ == "__main__":
    sys.exit(cli(CASES, run))
