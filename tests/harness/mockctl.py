"""Prints the calls a dbusmock object recorded, one JSON object per line: {"time": seconds, "method": name,
"args": [...]}. Usage: mockctl.py --system|--session BUS_NAME OBJECT_PATH [METHOD]"""

import json
import sys

import dbus


def plain(value):
    """D-Bus values as JSON values: booleans as booleans (dbus.Boolean is an int), containers as plain ones."""
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return value


bus_flag, name, path, *only = sys.argv[1:]
bus = dbus.SystemBus() if bus_flag == "--system" else dbus.SessionBus()
try:
    for stamp, method, args in bus.get_object(name, path).GetCalls(dbus_interface="org.freedesktop.DBus.Mock"):
        if not only or method == only[0]:
            print(json.dumps({"time": int(stamp), "method": method, "args": plain(args)}))
except BrokenPipeError:  # the reader stopped early (`| head -n 1`): not an error
    sys.stderr.close()
