#!/usr/bin/python3
"""A WS-Management (WinRM) service for the tests, answering WMI queries from
one lab computer's "wmi" section.

It speaks HTTP/1.1 with keep-alive, authenticates every connection with
Negotiate through GSSAPI as acceptor (Kerberos from KRB5_KTNAME, NTLM from
gss-ntlmssp's NTLM_USER_FILE), encrypts its replies on plain HTTP when the
request came encrypted (multipart/encrypted, HTTP-SPNEGO-session-encrypted),
and serves HTTPS when given a certificate. Responses follow the layout of
Windows's own (namespaces, prefixes, optimized enumeration, faults).

Prints "listening PORT" on standard output once it accepts connections.
Options:
  --computer FILE    the lab computer's JSON file
  --bind ADDRESS     the address to listen on (default 127.0.0.1)
  --port N           0 picks a free port
  --tls CERT KEY     serve HTTPS
  --page N           at most N instances per response, whatever is asked
  --delay-ms N       time every reply costs
  --stop-after N     after N enumeration pages, stop: close every connection
                     without a reply and refuse new ones
  --log FILE         one line per request: the action, or "auth"
"""
import argparse
import base64
import json
import os
import socket
import ssl
import struct
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
BOUNDARY = b"--Encrypted Boundary\r\n"
ENCRYPTED_TYPE = ('multipart/encrypted;protocol="application/HTTP-SPNEGO-session-encrypted";'
                  'boundary="Encrypted Boundary"')
NTLM_SIGNATURE = 16


def envelope(action, relates_to, body):
    return ('<s:Envelope xml:lang="en-US" xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
            'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
            'xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration" '
            'xmlns:w="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd" '
            'xmlns:p="http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd">'
            '<s:Header><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>'
            '<a:Action>%s</a:Action><a:MessageID>uuid:%s</a:MessageID>'
            '<a:RelatesTo>%s</a:RelatesTo></s:Header><s:Body>%s</s:Body></s:Envelope>'
            % (action, str(uuid.uuid4()).upper(), escape(relates_to), body))


def fault(relates_to, number, text):
    code = number + (1 << 32) if number < 0 else number
    return envelope(
        "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault", relates_to,
        '<s:Fault><s:Code><s:Value>s:Receiver</s:Value><s:Subcode><s:Value>w:InternalError'
        '</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang="en-US">%s</s:Text></s:Reason>'
        '<s:Detail><f:WSManFault xmlns:f="http://schemas.microsoft.com/wbem/wsman/1/wsmanfault" '
        'Code="2150858752" Machine="peer"><f:Message><f:ProviderFault provider="WMI Provider" '
        'path="%%systemroot%%\\system32\\WsmWmiPl.dll"><f:WSManFault '
        'xmlns:f="http://schemas.microsoft.com/wbem/wsman/1/wsmanfault" Code="%d" Machine="peer">'
        '<f:Message>%s</f:Message></f:WSManFault></f:ProviderFault></f:Message></f:WSManFault>'
        '</s:Detail></s:Fault>' % (escape(text), code, escape(text)))


def instance_xml(class_name, properties):
    parts = ['<p:%s xmlns:p="%s%s" xmlns:cim="http://schemas.dmtf.org/wbem/wscim/1/common" '
             'xsi:type="p:%s_Type" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">'
             % (class_name, CIMV2, class_name, class_name)]
    for name, value in properties.items():
        if value is None:
            parts.append('<p:%s xsi:nil="true"/>' % name)
        else:
            text = value if isinstance(value, str) else json.dumps(value)
            parts.append("<p:%s>%s</p:%s>" % (name, escape(text), name))
    parts.append("</p:%s>" % class_name)
    return "".join(parts)


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
        return words[-1], []


class State:
    def __init__(self, args):
        self.args = args
        self.computer = Computer(args.computer)
        self.enumerations = {}
        self.pages = 0
        self.stopped = False
        self.lock = threading.Lock()
        self.server = None

    def log(self, what):
        if self.args.log:
            with self.lock, open(self.args.log, "a") as f:
                f.write(what + "\n")


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
            self.send_header("WWW-Authenticate", "Negotiate")
            self.send_header("WWW-Authenticate", "Kerberos")
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

    def do_POST(self):
        state = self.server.state
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if state.stopped:
            return self.drop()
        token = None
        auth = self.headers.get("Authorization", "")
        if auth.startswith("Negotiate "):
            state.log("auth")
            if self.ctx is None or self.ctx.complete:
                self.ctx = gssapi.SecurityContext(usage="accept")
                self.authenticated = False
            try:
                token = self.ctx.step(base64.b64decode(auth[len("Negotiate "):]))
            except gssapi.exceptions.GSSError as e:
                print("wsman_peer: authentication failed: %s" % e, file=sys.stderr)
                self.ctx = None
                return self.reply(401, authenticate=True)
            if not self.ctx.complete:
                return self.reply(401, token=token)
            self.authenticated = True
        if not self.authenticated:
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
            # As Windows by default (AllowUnencrypted = false).
            return self.reply(401, authenticate=True)

        answer = self.answer(body.decode("utf-8"))
        if answer is None:
            return self.drop()
        status, soap = answer
        if state.args.delay_ms:
            time.sleep(state.args.delay_ms / 1000.0)
        soap = soap.encode("utf-8")
        if encrypted:
            return self.reply(status, encrypt(self.ctx, soap), ENCRYPTED_TYPE, token)
        return self.reply(status, soap, "application/soap+xml;charset=UTF-8", token)

    def answer(self, text):
        state = self.server.state
        root = ET.fromstring(text)
        body = root.find("s:Body", NS)
        message_id = root.findtext("s:Header/a:MessageID", "", NS)
        if body.find("wsmid:Identify", NS) is not None:
            state.log("Identify")
            return 200, ('<s:Envelope xml:lang="en-US" '
                         'xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Header/><s:Body>'
                         '<wsmid:IdentifyResponse xmlns:wsmid="%s"><wsmid:ProtocolVersion>'
                         'http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd</wsmid:ProtocolVersion>'
                         '<wsmid:ProductVendor>Microsoft Corporation</wsmid:ProductVendor>'
                         '<wsmid:ProductVersion>OS: 0.0.0 SP: 0.0 Stack: 3.0</wsmid:ProductVersion>'
                         '</wsmid:IdentifyResponse></s:Body></s:Envelope>' % NS["wsmid"])
        enumerate_ = body.find("n:Enumerate", NS)
        pull = body.find("n:Pull", NS)
        if (enumerate_ is not None or pull is not None) and self.stop_now():
            return None
        if enumerate_ is not None:
            state.log("Enumerate")
            class_name, result = state.computer.query(enumerate_.findtext("w:Filter", "", NS))
            if class_name is None:
                return 500, fault(message_id, *result)
            context = "uuid:" + str(uuid.uuid4()).upper()
            with state.lock:
                state.enumerations[context] = (class_name, list(result))
            if enumerate_.find("w:OptimizeEnumeration", NS) is None:
                return 200, envelope(ENUM_ACTION + "EnumerateResponse", message_id,
                                     "<n:EnumerateResponse><n:EnumerationContext>%s"
                                     "</n:EnumerationContext></n:EnumerateResponse>" % context)
            items, end = self.page(context, enumerate_.findtext("w:MaxElements", "1", NS))
            return 200, envelope(
                ENUM_ACTION + "EnumerateResponse", message_id,
                "<n:EnumerateResponse>%s<w:Items>%s</w:Items>%s</n:EnumerateResponse>"
                % ("" if end else "<n:EnumerationContext>%s</n:EnumerationContext>" % context,
                   items, "<w:EndOfSequence/>" if end else ""))
        if pull is not None:
            state.log("Pull")
            context = pull.findtext("n:EnumerationContext", "", NS)
            if context not in state.enumerations:
                return 400, fault(message_id, 2150858843,
                                  "The enumeration context supplied in the message is not valid.")
            items, end = self.page(context, pull.findtext("n:MaxElements", "1", NS))
            return 200, envelope(
                ENUM_ACTION + "PullResponse", message_id,
                "<n:PullResponse>%s<n:Items>%s</n:Items>%s</n:PullResponse>"
                % ("" if end else "<n:EnumerationContext>%s</n:EnumerationContext>" % context,
                   items, "<n:EndOfSequence/>" if end else ""))
        return 400, fault(message_id, 2150858817, "The action is not supported by the service.")

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

    def page(self, context, max_elements):
        state = self.server.state
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--computer", required=True)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--page", type=int, default=0)
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--stop-after", type=int, default=0)
    parser.add_argument("--log")
    args = parser.parse_args()

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
