#!/usr/bin/env python3
"""A stand-in for the system's disk service on a private D-Bus bus.

Claims org.freedesktop.UDisks2, resolves one device path to its block object
and opens that "device" -- an image file -- when asked, handing the
descriptor back the way the real service does. Prints "ready" once the name
is owned; runs until the bus goes away or it is terminated.
"""
import argparse
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SERVICE = "org.freedesktop.UDisks2"
MANAGER_PATH = "/org/freedesktop/UDisks2/Manager"


def object_path_for(device):
    """The block object's path as the service names it: _xx for odd bytes."""
    name = os.path.basename(device).encode()
    escaped = "".join(chr(b) if chr(b).isascii() and chr(b).isalnum() else "_%02x" % b for b in name)
    return "/org/freedesktop/UDisks2/block_devices/" + escaped


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True, help="the bus to serve on")
    parser.add_argument("--device", required=True, help="the device path the block object stands for")
    parser.add_argument("--image", required=True, help="the file opened in its place")
    parser.add_argument("--refuse", action="store_true", help="say the caller is not authorised")
    parser.add_argument("--writable", action="store_true", help="hand out a read-write descriptor")
    parser.add_argument("--no-resolve", action="store_true", help="behave like a service without ResolveDevice")
    parser.add_argument("--log", help="file that gets one line per OpenDevice call")
    args = parser.parse_args()

    def log(line):
        if args.log:
            with open(args.log, "a", encoding="utf-8") as out:
                out.write(line + "\n")

    class Manager(dbus.service.Object):
        @dbus.service.method("org.freedesktop.UDisks2.Manager", in_signature="a{sv}a{sv}", out_signature="ao")
        def ResolveDevice(self, wanted, options):
            if args.no_resolve:
                raise dbus.exceptions.DBusException(
                    "No such method 'ResolveDevice'", name="org.freedesktop.DBus.Error.UnknownMethod")
            if wanted.get("path") == args.device:
                return dbus.Array([dbus.ObjectPath(object_path_for(args.device))], signature="o")
            return dbus.Array([], signature="o")

    class Block(dbus.service.Object):
        @dbus.service.method("org.freedesktop.UDisks2.Block", in_signature="sa{sv}", out_signature="h")
        def OpenDevice(self, mode, options):
            asks = not bool(options.get("auth.no_user_interaction", False))
            log("OpenDevice mode=%s may-ask=%s" % (mode, "yes" if asks else "no"))
            if args.refuse:
                raise dbus.exceptions.DBusException(
                    "Not authorized to perform operation",
                    name="org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain")
            if mode != "r":
                raise dbus.exceptions.DBusException(
                    "Unknown mode '%s'" % mode, name="org.freedesktop.UDisks2.Error.Failed")
            fd = os.open(args.image, os.O_RDWR if args.writable else os.O_RDONLY)
            try:
                return dbus.types.UnixFd(fd)
            finally:
                os.close(fd)

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address)
    loop = GLib.MainLoop()
    bus.call_on_disconnection(lambda _: loop.quit())
    keep = [Manager(bus, MANAGER_PATH), Block(bus, object_path_for(args.device)),
            dbus.service.BusName(SERVICE, bus, do_not_queue=True)]
    print("ready", flush=True)
    loop.run()
    del keep
    return 0


if __name__ == "__main__":
    sys.exit(main())
