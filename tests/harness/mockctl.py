"""Reads the call log of a dbusmock object and prints one JSON object per call:
{"time": seconds, "method": name, "args": [...]}.

Usage: mockctl.py calls (--system|--session) BUS_NAME OBJECT_PATH [METHOD]"""

import json
import sys

import dbus


def plain(value):
    """D-Bus values as plain JSON values (bytes as numbers, variants unwrapped)."""
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Byte, dbus.Int16, dbus.UInt16, dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64)):
        return int(value)
    if isinstance(value, dbus.Double):
        return float(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath, dbus.Signature)):
        return str(value)
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return value


def main(argv):
    if len(argv) < 5 or argv[1] != "calls" or argv[2] not in ("--system", "--session"):
        print(__doc__, file=sys.stderr)
        return 2
    bus = dbus.SystemBus() if argv[2] == "--system" else dbus.SessionBus()
    obj = bus.get_object(argv[3], argv[4])
    only = argv[5] if len(argv) > 5 else None
    for stamp, method, args in obj.GetCalls(dbus_interface="org.freedesktop.DBus.Mock"):
        if only is None or str(method) == only:
            print(json.dumps({"time": int(stamp), "method": str(method), "args": plain(args)}))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except BrokenPipeError:
        # The reader stopped early (e.g. `| head -n 1`); that is not an error.
        sys.stderr.close()
        sys.exit(0)
