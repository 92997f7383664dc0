#!/usr/bin/python3
"""A service control manager for the tests: MS-SCMR (the svcctl interface)
over connection-oriented DCE/RPC on TCP (ncacn_ip_tcp), serving one service
whose start type and state it keeps, as a Windows target keeps its
RemoteRegistry service. It models what Samba's svcctl cannot: a disabled
service, ChangeServiceConfigW, a start that fails or never completes.

Calls served: RCloseServiceHandle (0), RControlService (1),
RQueryServiceStatus (6), RChangeServiceConfigW (11), ROpenSCManagerW (15),
ROpenServiceW (16), RQueryServiceConfigW (17), RStartServiceW (19); any other
gets the nca_s_op_rng_error fault. Requests may come in several fragments;
replies fit one.

Prints "listening PORT" once it accepts connections. Options:
  --port N            0 picks a free port
  --service NAME      the one service (default RemoteRegistry)
  --start TYPE        auto, demand or disabled (default disabled)
  --state STATE       running or stopped (default stopped)
  --start-error N     the Win32 code a start request returns
  --start-pending     a start leaves the service starting for good
  --journal FILE      one line per change: "NAME start-type=...", "started",
                      "stopped", as the lab's journal writes them
"""
import argparse
import os
import socket
import socketserver
import struct
import sys
import threading
import uuid

SVCCTL = uuid.UUID("367abb81-9844-35f1-ad32-98f038001003").bytes_le + struct.pack("<HH", 2, 0)
NDR = uuid.UUID("8a885d04-1ceb-11c9-9fe8-08002b104860").bytes_le + struct.pack("<HH", 2, 0)
BIND, BIND_ACK, BIND_NAK, REQUEST, RESPONSE, FAULT = 11, 12, 13, 0, 2, 3
FIRST, LAST = 1, 2
OP_RNG_ERROR = 0x1C010002

STOPPED, START_PENDING, RUNNING = 1, 2, 4
START_TYPES = {"auto": 2, "demand": 3, "disabled": 4}
NAMES = {2: "auto", 3: "demand", 4: "disabled"}
ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER = 5, 6, 87
ALREADY_RUNNING, DISABLED, NO_SUCH_SERVICE, CANNOT_ACCEPT, NOT_ACTIVE = 1056, 1058, 1060, 1061, 1062


class Service:
    def __init__(self, args):
        self.name = args.service
        self.start_type = START_TYPES[args.start]
        self.state = RUNNING if args.state == "running" else STOPPED
        self.start_error = args.start_error
        self.start_pending = args.start_pending
        self.journal = args.journal
        self.lock = threading.Lock()

    def note(self, what):
        if self.journal:
            with open(self.journal, "a") as f:
                f.write("%s %s\n" % (self.name, what))


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def align(n, boundary=4):
    return (n + boundary - 1) // boundary * boundary


def varying_string(data, at):
    """A conformant varying UTF-16 string at `at`: its text and the offset
    after it, 4-aligned."""
    _maximum, offset, actual = struct.unpack_from("<III", data, at)
    start = at + 12
    raw = data[start:start + 2 * actual]
    if offset != 0 or len(raw) != 2 * actual:
        raise ValueError("malformed string")
    return raw.decode("utf-16-le").rstrip("\0"), align(start + 2 * actual)


def write_string(text):
    units = (text + "\0").encode("utf-16-le")
    count = len(units) // 2
    body = struct.pack("<III", count, 0, count) + units
    return body + b"\0" * (align(len(body)) - len(body))


def service_status(state):
    accepted = 1 if state == RUNNING else 0
    return struct.pack("<7I", 0x20, state, accepted, 0, 0, 0, 0)


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.handles = {}  # handle bytes -> "manager" or "service"

    def read_pdu(self):
        header = self.read_exactly(16)
        if header is None:
            return None
        frag_length = struct.unpack_from("<H", header, 8)[0]
        body = self.read_exactly(frag_length - 16) if frag_length > 16 else b""
        return None if body is None else header + body

    def read_exactly(self, count):
        data = b""
        while len(data) < count:
            chunk = self.request.recv(count - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def send(self, ptype, call_id, body, flags=FIRST | LAST):
        header = struct.pack("<BBBB4sHHI", 5, 0, ptype, flags, b"\x10\0\0\0", 16 + len(body), 0, call_id)
        self.request.sendall(header + body)

    def handle(self):
        stub, opnum = b"", 0
        while True:
            pdu = self.read_pdu()
            if pdu is None:
                return
            ptype, flags, call_id = pdu[2], pdu[3], u32(pdu, 12)
            if ptype == BIND:
                self.bind(pdu, call_id)
            elif ptype == REQUEST:
                if flags & FIRST:
                    stub = b""
                opnum = struct.unpack_from("<H", pdu, 22)[0]
                stub += pdu[24:]
                if flags & LAST:
                    self.call(call_id, opnum, stub)
            else:
                return

    def bind(self, pdu, call_id):
        max_xmit, max_recv = struct.unpack_from("<HH", pdu, 16)
        abstract, transfer = pdu[32:52], pdu[52:72]
        if pdu[24] < 1 or abstract != SVCCTL or transfer != NDR:
            self.send(BIND_NAK, call_id, struct.pack("<HB", 4, 0))  # abstract syntax not supported
            return
        port = b"%d\0" % self.server.server_address[1]
        body = struct.pack("<HHIH", min(max_xmit, 4280), min(max_recv, 4280), 0x12345, len(port)) + port
        body += b"\0" * (align(16 + len(body)) - 16 - len(body))
        body += struct.pack("<BBHHH", 1, 0, 0, 0, 0) + NDR
        self.send(BIND_ACK, call_id, body)

    def call(self, call_id, opnum, stub):
        service = self.server.service
        try:
            with service.lock:
                reply = self.dispatch(service, opnum, stub)
        except (ValueError, struct.error, IndexError):
            reply = None
        if reply is None:
            self.send(FAULT, call_id, struct.pack("<IHBBI", 0, 0, 0, 0, OP_RNG_ERROR) + b"\0" * 4)
            return
        self.send(RESPONSE, call_id, struct.pack("<IHBB", len(reply), 0, 0, 0) + reply)

    def new_handle(self, kind):
        handle = b"\0" * 4 + os.urandom(16)
        self.handles[handle] = kind
        return handle

    def dispatch(self, service, opnum, stub):
        handle = stub[:20]
        kind = self.handles.get(handle)
        if opnum == 15:  # ROpenSCManagerW
            return self.new_handle("manager") + struct.pack("<I", 0)
        if opnum == 0:  # RCloseServiceHandle
            if self.handles.pop(handle, None) is None:
                return b"\0" * 20 + struct.pack("<I", ERROR_INVALID_HANDLE)
            return b"\0" * 20 + struct.pack("<I", 0)
        if opnum == 16:  # ROpenServiceW
            name, at = varying_string(stub, 20)
            if kind != "manager":
                return b"\0" * 20 + struct.pack("<I", ERROR_INVALID_HANDLE)
            if name.lower() != service.name.lower():
                return b"\0" * 20 + struct.pack("<I", NO_SUCH_SERVICE)
            return self.new_handle("service") + struct.pack("<I", 0)
        if kind != "service":
            return None if opnum not in (1, 6, 11, 17, 19) else self.status_only(opnum, ERROR_INVALID_HANDLE)
        if opnum == 6:  # RQueryServiceStatus
            return service_status(service.state) + struct.pack("<I", 0)
        if opnum == 17:  # RQueryServiceConfigW
            config = struct.pack("<III", 0x20, service.start_type, 1)  # own process, normal errors
            # Binary path, no group, no tag, no dependencies, start name, display name.
            config += struct.pack("<6I", 0x20000, 0, 0, 0, 0x20004, 0x20008)
            config += write_string("C:\\Windows\\system32\\svchost.exe -k localService -p")
            config += write_string("NT AUTHORITY\\LocalService") + write_string("Remote Registry")
            return config + struct.pack("<II", 0, 0)
        if opnum == 11:  # RChangeServiceConfigW
            start_type = u32(stub, 24)
            if start_type != 0xFFFFFFFF:
                if start_type not in NAMES:
                    return struct.pack("<II", 0, ERROR_INVALID_PARAMETER)
                if start_type != service.start_type:
                    service.start_type = start_type
                    service.note("start-type=" + NAMES[start_type])
            return struct.pack("<II", 0, 0)  # no tag id
        if opnum == 19:  # RStartServiceW
            if service.state != STOPPED:
                return struct.pack("<I", ALREADY_RUNNING)
            if service.start_type == START_TYPES["disabled"]:
                return struct.pack("<I", DISABLED)
            if service.start_error:
                return struct.pack("<I", service.start_error)
            service.state = START_PENDING if service.start_pending else RUNNING
            service.note("started")
            return struct.pack("<I", 0)
        if opnum == 1:  # RControlService
            control = u32(stub, 20)
            if control != 1:
                return service_status(service.state) + struct.pack("<I", ERROR_INVALID_PARAMETER)
            if service.state == STOPPED:
                return service_status(service.state) + struct.pack("<I", NOT_ACTIVE)
            if service.state == START_PENDING:
                return service_status(service.state) + struct.pack("<I", CANNOT_ACCEPT)
            service.state = STOPPED
            service.note("stopped")
            return service_status(service.state) + struct.pack("<I", 0)
        return None

    @staticmethod
    def status_only(opnum, code):
        if opnum in (1, 6):
            return service_status(0) + struct.pack("<I", code)
        if opnum == 11:
            return struct.pack("<II", 0, code)
        if opnum == 17:
            return struct.pack("<9I", *([0] * 9)) + struct.pack("<II", 0, code)
        return struct.pack("<I", code)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--service", default="RemoteRegistry")
    parser.add_argument("--start", choices=sorted(START_TYPES), default="disabled")
    parser.add_argument("--state", choices=["running", "stopped"], default="stopped")
    parser.add_argument("--start-error", type=int, default=0)
    parser.add_argument("--start-pending", action="store_true")
    parser.add_argument("--journal")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    server.service = Service(args)
    print("listening %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
