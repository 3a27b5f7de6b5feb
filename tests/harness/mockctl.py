"""Prints the calls a dbusmock object recorded, one JSON object per line: {"time": seconds, "method": name,
"args": [...]} (D-Bus booleans print as 0 and 1). Usage: mockctl.py --system|--session BUS_NAME OBJECT_PATH
[METHOD]"""

import json
import sys

import dbus

bus_flag, name, path, *only = sys.argv[1:]
bus = dbus.SystemBus() if bus_flag == "--system" else dbus.SessionBus()
try:
    for stamp, method, args in bus.get_object(name, path).GetCalls(dbus_interface="org.freedesktop.DBus.Mock"):
        if not only or method == only[0]:
            print(json.dumps({"time": int(stamp), "method": method, "args": args}))
except BrokenPipeError:  # the reader stopped early (`| head -n 1`): not an error
    sys.stderr.close()
