#!/usr/bin/python3
"""A WS-Management (WinRM) service for the tests, answering WMI queries from
one lab computer's "wmi" section.

It speaks HTTP/1.1 with keep-alive (request bodies with a length or
chunked), authenticates every connection with Negotiate through GSSAPI as
acceptor (Kerberos from KRB5_KTNAME, NTLM from gss-ntlmssp's
NTLM_USER_FILE, whose challenge carries a time stamp, and which checks the
client's MIC, when the client asks for the target's information, as
SPNEGO's NTLM does), and serves HTTPS when given a certificate. It is
as strict as Windows with its defaults: it offers only the scheme it
accepts; on plain HTTP it answers an unencrypted message with HTTP 500 and
a fault (AllowUnencrypted = false) and encrypts its replies
(multipart/encrypted, HTTP-SPNEGO-session-encrypted); it routes a message by
its wsa:Action; a class that WMI does not know is an invalid class, while a
known class that the lab file does not list has no instance. Replies follow
the documented examples of Windows's own (see the note above envelope()).

Prints "listening PORT" on standard output once it accepts connections.
Options:
  --computer FILE    the lab computer's JSON file
  --bind ADDRESS     the address to listen on (default 127.0.0.1)
  --port N           0 picks a free port
  --tls CERT KEY     serve HTTPS; a client's channel binding must match
                     the certificate
  --channel-binding strict
                     over HTTPS, refuse a client that does not bind its
                     context to the channel (as Windows's CbtHardeningLevel)
  --page N           at most N instances per response, whatever is asked
  --delay-ms N       time every reply costs
  --stop-after N     after N enumeration pages, stop: close every connection
                     without a reply and refuse new ones
  --log FILE         one line per request: the action, "auth", "unbound",
                     "unencrypted", "anonymous" (no credentials, refused),
                     "ntlm-timestamp" (an NTLM challenge with a time stamp)
                     and "ntlm-mic" (an NTLM answer signed with a MIC)
  --stdio            no network: answer request envelopes read from standard
                     input, one per line, with "STATUS REPLY" lines
"""
import argparse
import base64
import hashlib
import json
import os
import re
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import uuid
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from xml.sax.saxutils import escape, quoteattr

import gssapi
import gssapi.raw as graw

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "a": "http://schemas.xmlsoap.org/ws/2004/08/addressing",
    "n": "http://schemas.xmlsoap.org/ws/2004/09/enumeration",
    "w": "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd",
    "wsmid": "http://schemas.dmtf.org/wbem/wsman/identity/1/wsmanidentity.xsd",
}
CIMV2 = "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/"
ENUM_ACTION = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/"
ADDRESSING_FAULT = "http://schemas.xmlsoap.org/ws/2004/08/addressing/fault"
WSMAN_FAULT = "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault"
ENUMERATION_FAULT = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/fault"
ANONYMOUS = "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
# The WS-Management plugin that serves WMI classes.
WMI_PROVIDER_ID = "D9A2A039-A4B3-4A70-8CB9-8D7714EAD776"
# Classes of root/cimv2 that a lab file may leave out: they answer with no
# instance. Any other unlisted name is not a class WMI knows.
KNOWN_CLASSES = {name.lower() for name in (
    "Win32_ComputerSystem", "Win32_OperatingSystem", "Win32_Processor", "Win32_BIOS",
    "Win32_LogicalDisk", "Win32_Service", "Win32_Battery", "Win32_BaseBoard",
    "Win32_ComputerSystemProduct", "Win32_DiskDrive", "Win32_NetworkAdapter",
    "Win32_NetworkAdapterConfiguration", "Win32_PhysicalMemory", "Win32_Process",
    "Win32_Product", "Win32_QuickFixEngineering", "Win32_Share", "Win32_SystemEnclosure",
    "Win32_TimeZone", "Win32_UserAccount", "Win32_VideoController")}
INVALID_CLASS = -2147217392
BOUNDARY = b"--Encrypted Boundary\r\n"
ENCRYPTED_TYPE = ('multipart/encrypted;protocol="application/HTTP-SPNEGO-session-encrypted";'
                  'boundary="Encrypted Boundary"')
NTLM_SIGNATURE = 16

# The messages below are laid out as the Enumerate, Pull and fault replies in
# Microsoft's [MS-WSMV] sections 4.1.2 and 4.10 (prefixes, header order,
# mustUnderstand flags), on one line as Windows sends them; instances as the
# WMI plugin writes the result of a WQL query. tests/platform/network/wsman/wsman_captures
# holds those examples and wsman_capture_test compares these replies with them.


def envelope(action, relates_to, body, enumeration=True):
    """A reply; `enumeration`: the body names elements of WS-Enumeration."""
    return ('<s:Envelope xml:lang="en-US" xmlns:s="%s" xmlns:wsa="%s" %sxmlns:wsman="%s">'
            '<s:Header><wsa:Action s:mustUnderstand="true">%s</wsa:Action>'
            '<wsa:MessageID s:mustUnderstand="true">uuid:%s</wsa:MessageID><wsa:To>%s</wsa:To>'
            '<wsa:RelatesTo s:mustUnderstand="true">%s</wsa:RelatesTo></s:Header>'
            '<s:Body>%s</s:Body></s:Envelope>'
            % (NS["s"], NS["a"], 'xmlns:wsen="%s" ' % NS["n"] if enumeration else "", NS["w"],
               action, str(uuid.uuid4()).upper(), ANONYMOUS, escape(relates_to), body))


def fault(relates_to, action, code, subcode, number, text, detail=None):
    """A SOAP fault. `number` is the WS-Management or WMI code (a negative one
    is taken as its 32-bit pattern); it appears on the outer WSManFault and
    on the provider's inner one, as Windows nests them."""
    number = number + (1 << 32) if number < 0 else number
    return envelope(
        action, relates_to,
        '<s:Fault><s:Code><s:Value>%s</s:Value><s:Subcode><s:Value>%s</s:Value></s:Subcode>'
        '</s:Code><s:Reason><s:Text xml:lang="en-US">%s</s:Text></s:Reason><s:Detail>%s'
        '<f:WSManFault xmlns:f="http://schemas.microsoft.com/wbem/wsman/1/wsmanfault" '
        'Code="%d" Machine="peer"><f:Message><f:ProviderFault providerId="%s"><f:WSManFault '
        'xmlns:f="http://schemas.microsoft.com/wbem/wsman/1/wsmanfault" Code="%d" Machine="peer">'
        '<f:Message>%s</f:Message></f:WSManFault></f:ProviderFault></f:Message></f:WSManFault>'
        '</s:Detail></s:Fault>'
        % (code, subcode, escape(text),
           "" if detail is None else "<wsman:FaultDetail>%s</wsman:FaultDetail>" % detail,
           number, WMI_PROVIDER_ID, number, escape(text)),
        enumeration=subcode.startswith("wsen:"))


def wmi_fault(relates_to, number, text):
    """A query that WMI refused (invalid class, query, ...)."""
    return fault(relates_to, WSMAN_FAULT, "s:Receiver", "wsman:InternalError", number, text)


def instance_xml(class_name, properties):
    parts = ['<p:%s xmlns:p="%s%s" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
             'xmlns:cim="http://schemas.dmtf.org/wbem/wscim/1/common" xsi:type="p:%s_Type">'
             % (class_name, CIMV2, class_name, class_name)]
    for name, value in properties.items():
        if value is None:
            parts.append('<p:%s xsi:nil="true"/>' % name)
        else:
            text = value if isinstance(value, str) else json.dumps(value)
            parts.append("<p:%s>%s</p:%s>" % (name, escape(text), name))
    parts.append("</p:%s>" % class_name)
    return "".join(parts)


IDENTIFY_RESPONSE = (
    '<s:Envelope xmlns:s="%s"><s:Header/><s:Body><wsmid:IdentifyResponse xmlns:wsmid="%s">'
    '<wsmid:ProtocolVersion>%s</wsmid:ProtocolVersion>'
    '<wsmid:ProductVendor>Microsoft Corporation</wsmid:ProductVendor>'
    '<wsmid:ProductVersion>OS: 10.0.17763 SP: 0.0 Stack: 3.0</wsmid:ProductVersion>'
    '</wsmid:IdentifyResponse></s:Body></s:Envelope>' % (NS["s"], NS["wsmid"], NS["w"]))


class Computer:
    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            self.wmi = json.load(f).get("wmi") or {}

    def query(self, wql):
        """(class name, instances) or (None, (number, text)) for a failure."""
        words = wql.split()
        if len(words) < 4 or words[0].lower() != "select" or words[-2].lower() != "from":
            return None, (-2147217385, "Invalid query")
        wanted = words[-1].lower()
        for name, entry in self.wmi.items():
            if name.lower() == wanted:
                if isinstance(entry, dict):
                    return None, (entry["number"], entry["error"])
                return name, entry
        if wanted not in KNOWN_CLASSES:
            return None, (INVALID_CLASS, "Invalid class")
        return words[-1], []


def tls_channel_bindings(cert_file):
    """The "tls-server-end-point" bindings of the certificate (RFC 5929):
    its hash by the hash function of its signature, SHA-256 for MD5 and
    SHA-1. GSSAPI refuses a context whose client bound it otherwise."""
    with open(cert_file, encoding="ascii") as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    text = subprocess.run(["openssl", "x509", "-in", cert_file, "-noout", "-text"],
                          capture_output=True, text=True, check=True).stdout
    signature = re.search(r"Signature Algorithm: *(\S+)", text).group(1).lower()
    name = next((h for h in ("sha384", "sha512", "sha224") if h in signature), "sha256")
    digest = hashlib.new(name, der).digest()
    return graw.ChannelBindings(application_data=b"tls-server-end-point:" + digest)


class State:
    def __init__(self, args):
        self.args = args
        self.computer = Computer(args.computer)
        self.enumerations = {}
        self.pages = 0
        self.stopped = False
        self.lock = threading.Lock()
        self.server = None
        self.channel_bindings = tls_channel_bindings(args.tls[0]) if args.tls else None

    def log(self, what):
        if self.args.log:
            with self.lock, open(self.args.log, "a") as f:
                f.write(what + "\n")


def challenge_has_timestamp(token):
    """Whether `token` is (or wraps) an NTLM CHALLENGE whose target
    information carries a time stamp (MsvAvTimestamp), which obliges the
    client to sign the exchange with a MIC."""
    at = token.find(b"NTLMSSP\x00\x02\x00\x00\x00")
    if at < 0 or len(token) < at + 48:
        return False
    length, _, offset = struct.unpack("<HHI", token[at + 40:at + 48])
    info, i = token[at + offset:at + offset + length], 0
    while i + 4 <= len(info):
        av_id, av_length = struct.unpack("<HH", info[i:i + 4])
        if av_id in (0, 7):
            return av_id == 7
        i += 4 + av_length
    return False


def authenticate_has_mic(token):
    """Whether `token` is (or wraps) an NTLM AUTHENTICATE whose client
    says it signed the exchange with a MIC (MsvAvFlags 0x2)."""
    at = token.find(b"NTLMSSP\x00\x03\x00\x00\x00")
    if at < 0 or len(token) < at + 28:
        return False
    length, _, offset = struct.unpack("<HHI", token[at + 20:at + 28])
    response = token[at + offset:at + offset + length]
    info, i = response[44:], 0  # after NTProofStr and the blob's fixed part
    while i + 4 <= len(info):
        av_id, av_length = struct.unpack("<HH", info[i:i + 4])
        if av_id == 0:
            return False
        if av_id == 6 and av_length == 4:
            return bool(struct.unpack("<I", info[i + 4:i + 8])[0] & 2)
        i += 4 + av_length
    return False


def seal(ctx, data):
    try:
        iov = graw.IOV(graw.IOVBufferType.header, data, graw.IOVBufferType.padding,
                       std_layout=False)
        graw.wrap_iov(ctx, iov, confidential=True)
        return iov[0].value, iov[1].value + (iov[2].value or b"")
    except gssapi.exceptions.GSSError:
        token = ctx.wrap(data, True).message
        return token[:NTLM_SIGNATURE], token[NTLM_SIGNATURE:]


def unseal(ctx, header, data):
    try:
        iov = graw.IOV((graw.IOVBufferType.header, False, header), data, std_layout=False)
        graw.unwrap_iov(ctx, iov)
        return iov[1].value
    except gssapi.exceptions.GSSError:
        return ctx.unwrap(header + data).message


def encrypt(ctx, soap):
    header, data = seal(ctx, soap)
    return (BOUNDARY + b"\tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n"
            + b"\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=%d\r\n" % len(soap)
            + BOUNDARY + b"\tContent-Type: application/octet-stream\r\n"
            + struct.pack("<I", len(header)) + header + data + b"--Encrypted Boundary--\r\n")


def decrypt(ctx, body):
    start = body.index(b"application/octet-stream\r\n") + len(b"application/octet-stream\r\n")
    end = body.rindex(b"--Encrypted Boundary--")
    payload = body[start:end]
    (length,) = struct.unpack("<I", payload[:4])
    return unseal(ctx, payload[4:4 + length], payload[4 + length:])


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "Microsoft-HTTPAPI/2.0"
    sys_version = ""

    def setup(self):
        super().setup()
        self.ctx = None
        self.authenticated = False

    def log_message(self, *args):
        pass

    def reply(self, status, body=b"", content_type=None, token=None, authenticate=False):
        self.send_response(status)
        if token:
            self.send_header("WWW-Authenticate", "Negotiate " + base64.b64encode(token).decode())
        elif authenticate:
            # Only what do_POST accepts.
            self.send_header("WWW-Authenticate", "Negotiate")
        if content_type:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def drop(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def read_body(self):
        """The request's body, whether it comes with a length or chunked;
        None for a body that cannot be read (the connection is closed)."""
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = b""
            while True:
                line = self.rfile.readline(100)
                try:
                    size = int(line.split(b";")[0].strip(), 16)
                except ValueError:
                    return None
                if size == 0:
                    while self.rfile.readline(1000) not in (b"\r\n", b"\n", b""):
                        pass  # trailers
                    return body
                body += self.rfile.read(size)
                if self.rfile.read(2) != b"\r\n":
                    return None
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            return None
        return self.rfile.read(length) if length >= 0 else None

    def do_POST(self):
        state = self.server.state
        body = self.read_body()
        if body is None:
            self.close_connection = True
            return self.reply(400)
        if state.stopped:
            return self.drop()
        token = None
        auth = self.headers.get("Authorization", "")
        if auth.startswith("Negotiate "):
            state.log("auth")
            if self.ctx is None or self.ctx.complete:
                self.ctx = gssapi.SecurityContext(usage="accept",
                                                  channel_bindings=state.channel_bindings)
                self.authenticated = False
            try:
                received = base64.b64decode(auth[len("Negotiate "):])
                if authenticate_has_mic(received):
                    state.log("ntlm-mic")
                token = self.ctx.step(received)
                complete = self.ctx.complete
                bound = complete and bool(self.ctx.actual_flags &
                                          gssapi.RequirementFlag.channel_bound)
            except gssapi.exceptions.GSSError as e:
                print("wsman_peer: authentication failed: %s" % e, file=sys.stderr)
                self.ctx = None
                return self.reply(401, authenticate=True)
            if not complete:
                if token and challenge_has_timestamp(token):
                    state.log("ntlm-timestamp")
                return self.reply(401, token=token)
            if state.args.channel_binding == "strict" and not bound:
                print("wsman_peer: authentication failed: no channel binding", file=sys.stderr)
                state.log("unbound")
                self.ctx = None
                return self.reply(401, authenticate=True)
            self.authenticated = True
        if not self.authenticated:
            if not auth:
                state.log("anonymous")
            return self.reply(401, authenticate=True)
        if not body:
            return self.reply(200, token=token)

        encrypted = self.headers.get("Content-Type", "").startswith("multipart/encrypted")
        if encrypted:
            try:
                body = decrypt(self.ctx, body)
            except (gssapi.exceptions.GSSError, ValueError, struct.error) as e:
                print("wsman_peer: cannot decrypt: %s" % e, file=sys.stderr)
                return self.reply(400)
        elif not isinstance(self.connection, ssl.SSLSocket):
            # As Windows by default (AllowUnencrypted = false): a fault, not
            # another round of authentication.
            state.log("unencrypted")
            return self.reply(500, unencrypted_fault(body).encode("utf-8"),
                              "application/soap+xml;charset=UTF-8")

        reply = answer(state, body.decode("utf-8", "replace"), self.stop_now)
        if reply is None:
            return self.drop()
        status, soap = reply
        if state.args.delay_ms:
            time.sleep(state.args.delay_ms / 1000.0)
        soap = soap.encode("utf-8")
        if encrypted:
            return self.reply(status, encrypt(self.ctx, soap), ENCRYPTED_TYPE, token)
        return self.reply(status, soap, "application/soap+xml;charset=UTF-8", token)

    def stop_now(self):
        """True once the pages that --stop-after allows have been served."""
        state = self.server.state
        with state.lock:
            if not state.args.stop_after or state.pages < state.args.stop_after:
                return False
            if not state.stopped:
                state.stopped = True
                threading.Thread(target=state.server.shutdown, daemon=True).start()
        return True


def unencrypted_fault(body):
    """The fault for a message sent in the clear over HTTP."""
    try:
        message_id = ET.fromstring(body).findtext("s:Header/a:MessageID", "", NS)
    except ET.ParseError:
        message_id = ""
    return fault(message_id, WSMAN_FAULT, "s:Sender", "wsman:AccessDenied", 5,
                 "The WinRM service does not accept unencrypted messages: encrypt them, or "
                 "use HTTPS.")


def answer(state, text, stop_now=lambda: False):
    """(HTTP status, SOAP reply) for the request `text`, or None when the
    service is to drop the connection instead. The wsa:Action decides what
    the message is; Identify alone comes without one."""
    try:
        root = ET.fromstring(text)
    except ET.ParseError:
        return 400, fault("", WSMAN_FAULT, "s:Sender", "wsman:SchemaValidationError",
                          2150858817, "The SOAP XML in the message is not well formed.")
    body = root.find("s:Body", NS)
    message_id = root.findtext("s:Header/a:MessageID", "", NS)
    action = root.findtext("s:Header/a:Action", "", NS).strip()
    if not action and body is not None and body.find("wsmid:Identify", NS) is not None:
        state.log("Identify")
        return 200, IDENTIFY_RESPONSE
    if action not in (ENUM_ACTION + "Enumerate", ENUM_ACTION + "Pull"):
        return 500, fault(message_id, ADDRESSING_FAULT, "s:Sender", "wsa:ActionNotSupported",
                          2150858771, "The action is not supported by the service.")
    enumerate_ = body.find("n:Enumerate", NS) if action.endswith("Enumerate") else None
    pull = body.find("n:Pull", NS) if action.endswith("Pull") else None
    if enumerate_ is None and pull is None:
        return 500, fault(message_id, WSMAN_FAULT, "s:Sender", "wsman:SchemaValidationError",
                          2150858817, "The SOAP XML in the message does not match the "
                          "corresponding XML schema definition.")
    if stop_now():
        return None
    if enumerate_ is not None:
        state.log("Enumerate")
        resource = root.findtext("s:Header/w:ResourceURI", "", NS).strip()
        if resource != CIMV2 + "*":
            return 500, fault(message_id, ADDRESSING_FAULT, "s:Sender", "wsa:DestinationUnreachable",
                              32768, "The WS-Management service cannot process the request. The "
                              "service cannot find the resource identified by the resource URI "
                              "and selectors.", "wsman:faultDetail/ResourceNotFound")
        class_name, result = state.computer.query(enumerate_.findtext("w:Filter", "", NS))
        if class_name is None:
            return 500, wmi_fault(message_id, *result)
        context = "uuid:" + str(uuid.uuid4()).upper()
        with state.lock:
            state.enumerations[context] = (class_name, list(result))
        if enumerate_.find("w:OptimizeEnumeration", NS) is None:
            return 200, envelope(ENUM_ACTION + "EnumerateResponse", message_id,
                                 "<wsen:EnumerateResponse><wsen:EnumerationContext>%s"
                                 "</wsen:EnumerationContext></wsen:EnumerateResponse>" % context)
        items, end = page(state, context, enumerate_.findtext("w:MaxElements", "1", NS))
        return 200, envelope(
            ENUM_ACTION + "EnumerateResponse", message_id,
            "<wsen:EnumerateResponse>%s<wsman:Items>%s</wsman:Items>%s</wsen:EnumerateResponse>"
            % ("" if end else "<wsen:EnumerationContext>%s</wsen:EnumerationContext>" % context,
               items, "<wsman:EndOfSequence/>" if end else ""))
    if pull is not None:
        state.log("Pull")
        context = pull.findtext("n:EnumerationContext", "", NS).strip()
        if context not in state.enumerations:
            return 500, fault(message_id, ENUMERATION_FAULT, "s:Receiver",
                              "wsen:InvalidEnumerationContext", 2150858779,
                              "The enumeration context supplied in the message is not valid.")
        items, end = page(state, context, pull.findtext("n:MaxElements", "1", NS))
        return 200, envelope(
            ENUM_ACTION + "PullResponse", message_id,
            "<wsen:PullResponse>%s<wsen:Items>%s</wsen:Items>%s</wsen:PullResponse>"
            % ("" if end else "<wsen:EnumerationContext>%s</wsen:EnumerationContext>" % context,
               items, "<wsen:EndOfSequence/>" if end else ""))


def page(state, context, max_elements):
    """The instances of the next page of `context` and whether it is the last."""
    count = max(1, int(max_elements))
    if state.args.page:
        count = min(count, state.args.page)
    with state.lock:
        class_name, remaining = state.enumerations[context]
        taken, rest = remaining[:count], remaining[count:]
        end = not rest
        if end:
            del state.enumerations[context]
        else:
            state.enumerations[context] = (class_name, rest)
        state.pages += 1
    return "".join(instance_xml(class_name, p) for p in taken), end


def serve_stdio(state):
    """One request envelope per line on standard input, each answered with
    one line "STATUS REPLY" on standard output: the messages without HTTP or
    authentication, for comparing them with the documented ones."""
    for line in sys.stdin:
        if not line.strip():
            continue
        status, soap = answer(state, line)
        print("%d %s" % (status, soap), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--computer", required=True)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--channel-binding", choices=("relaxed", "strict"), default="relaxed")
    parser.add_argument("--page", type=int, default=0)
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--stop-after", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--stdio", action="store_true")
    args = parser.parse_args()
    if args.stdio:
        return serve_stdio(State(args))

    server = ThreadingHTTPServer((args.bind, args.port), Handler)
    server.daemon_threads = True
    server.state = State(args)
    server.state.server = server
    if args.tls:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = tls.wrap_socket(server.socket, server_side=True)
    print("listening %d" % server.server_address[1], flush=True)
    server.serve_forever()
    server.server_close()


if __name__ == "__main__":
    main()
