#!/usr/bin/python3
"""Walks a service through the scenario the tests compare, with impacket's
MS-SCMR client (Debian's python3-impacket) against the service control
manager at 127.0.0.1:PORT over ncacn_ip_tcp, printing one line per step:
what was asked and the Win32 code or value that came back.

Usage: impacket_scenario.py PORT SERVICE
"""
import sys

from impacket.dcerpc.v5 import scmr, transport
from impacket.dcerpc.v5.rpcrt import DCERPCException


def code(call):
    try:
        call()
        return 0
    except DCERPCException as failure:
        return failure.get_error_code()


def main():
    port, name = int(sys.argv[1]), sys.argv[2]
    rpc = transport.DCERPCTransportFactory("ncacn_ip_tcp:127.0.0.1[%d]" % port)
    dce = rpc.get_dce_rpc()
    dce.connect()
    dce.bind(scmr.MSRPC_UUID_SCMR)
    manager = scmr.hROpenSCManagerW(dce)["lpScHandle"]
    print("open-missing %d" % code(lambda: scmr.hROpenServiceW(dce, manager, "NoSuchService\x00")))
    service = scmr.hROpenServiceW(dce, manager, name + "\x00")["lpServiceHandle"]
    state = lambda: scmr.hRQueryServiceStatus(dce, service)["lpServiceStatus"]["dwCurrentState"]
    start_type = lambda: scmr.hRQueryServiceConfigW(dce, service)["lpServiceConfig"]["dwStartType"]
    print("state %d" % state())
    print("start-type %d" % start_type())
    print("start %d" % code(lambda: scmr.hRStartServiceW(dce, service)))
    print("change %d" % code(lambda: scmr.hRChangeServiceConfigW(dce, service, dwStartType=scmr.SERVICE_DEMAND_START)))
    print("start %d" % code(lambda: scmr.hRStartServiceW(dce, service)))
    print("state %d" % state())
    print("start %d" % code(lambda: scmr.hRStartServiceW(dce, service)))
    print("stop %d" % code(lambda: scmr.hRControlService(dce, service, scmr.SERVICE_CONTROL_STOP)))
    print("stop %d" % code(lambda: scmr.hRControlService(dce, service, scmr.SERVICE_CONTROL_STOP)))
    print("change %d" % code(lambda: scmr.hRChangeServiceConfigW(dce, service, dwStartType=scmr.SERVICE_DISABLED)))
    print("start-type %d" % start_type())
    scmr.hRCloseServiceHandle(dce, service)
    scmr.hRCloseServiceHandle(dce, manager)
    dce.disconnect()


if __name__ == "__main__":
    main()
