#!/usr/bin/env python3
"""Makes the tunnel device NAME and records every TCP and UDP packet that the system routes into it,
one line each ("TCP <destination> port <n>"), in LOG; touches READY once the device exists.
Packets are only read, never answered or passed on. The kernel's own ICMP traffic on the device
(router solicitations, multicast reports) is not recorded."""
import fcntl
import os
import socket
import struct
import sys

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000


def main(name, log, ready):
    try:
        fd = os.open("/dev/net/tun", os.O_RDWR)
        fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    except OSError as e:
        sys.exit("/dev/net/tun: %s" % e.strerror)
    open(ready, "w").close()
    with open(log, "a", buffering=1) as out:
        while True:
            packet = os.read(fd, 65535)
            if not packet:
                continue
            version = packet[0] >> 4
            if version == 4:
                protocol, header = packet[9], (packet[0] & 15) * 4
                destination = socket.inet_ntop(socket.AF_INET, packet[16:20])
            elif version == 6:
                protocol, header = packet[6], 40
                destination = socket.inet_ntop(socket.AF_INET6, packet[24:40])
            else:
                continue
            if protocol in (6, 17) and len(packet) >= header + 4:
                port = struct.unpack("!H", packet[header + 2:header + 4])[0]
                out.write("%s %s port %d\n" % ("TCP" if protocol == 6 else "UDP", destination, port))


if __name__ == "__main__":
    main(*sys.argv[1:4])
