#!/usr/bin/python3
"""Asks a WS-Management service for WMI classes through Debian's pywinrm
(python3-winrm) with NTLM, a client nobody here wrote, and prints one line
per property read: "Class.Property=value" ("<null>" for nil), or, when the
service refuses, one line "fault " and pywinrm's description of it.

Usage: pywinrm_client.py ENDPOINT USER CLASS... with the password in
PYWINRM_PASSWORD. Options: --encryption auto|always|never (default auto:
encrypted over HTTP), --ca FILE (HTTPS: the authority to trust; channel
binding is always sent).
"""
import argparse
import os
import sys
import uuid
import xml.etree.ElementTree as ET

import winrm
from winrm.exceptions import WinRMError, WinRMTransportError

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "n": "http://schemas.xmlsoap.org/ws/2004/09/enumeration",
    "w": "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd",
    "xsi": "http://www.w3.org/2001/XMLSchema-instance",
}
CIMV2 = "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*"
ACTION = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/"


def request(protocol, endpoint, action, body):
    return protocol.send_message(
        '<s:Envelope xmlns:s="%s" xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
        'xmlns:n="%s" xmlns:w="%s"><s:Header><a:To>%s</a:To>'
        '<w:ResourceURI s:mustUnderstand="true">%s</w:ResourceURI>'
        '<a:ReplyTo><a:Address s:mustUnderstand="true">'
        'http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:Address></a:ReplyTo>'
        '<a:Action s:mustUnderstand="true">%s%s</a:Action>'
        '<w:MaxEnvelopeSize s:mustUnderstand="true">512000</w:MaxEnvelopeSize>'
        '<a:MessageID>uuid:%s</a:MessageID><w:OperationTimeout>PT60S</w:OperationTimeout>'
        '</s:Header><s:Body>%s</s:Body></s:Envelope>'
        % (NS["s"], NS["n"], NS["w"], endpoint, CIMV2, ACTION, action, uuid.uuid4(), body))


def instances(protocol, endpoint, wmi_class):
    """Every instance of `wmi_class` (the lab's few fit in one reply)."""
    reply = ET.fromstring(request(
        protocol, endpoint, "Enumerate",
        '<n:Enumerate><w:OptimizeEnumeration/><w:MaxElements>32000</w:MaxElements>'
        '<w:Filter Dialect="http://schemas.microsoft.com/wbem/wsman/1/WQL">'
        'Select * From %s</w:Filter></n:Enumerate>' % wmi_class))
    items = reply.find(".//w:Items", NS)
    return list(items) if items is not None else []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("endpoint")
    parser.add_argument("user")
    parser.add_argument("classes", nargs="+")
    parser.add_argument("--encryption", default="auto", choices=("auto", "always", "never"))
    parser.add_argument("--ca")
    args = parser.parse_args()
    protocol = winrm.Protocol(
        args.endpoint, transport="ntlm", username=args.user,
        password=os.environ["PYWINRM_PASSWORD"], message_encryption=args.encryption,
        server_cert_validation="validate" if args.ca else "ignore", ca_trust_path=args.ca)
    try:
        for wmi_class in args.classes:
            for instance in instances(protocol, args.endpoint, wmi_class):
                for prop in instance:
                    name = prop.tag.split("}")[-1]
                    nil = prop.get("{%s}nil" % NS["xsi"]) == "true"
                    print("%s.%s=%s" % (wmi_class, name, "<null>" if nil else prop.text or ""))
    except (WinRMError, WinRMTransportError) as e:
        print("fault %s" % e)
    sys.stdout.flush()


if __name__ == "__main__":
    main()
