"""A StatusNotifierWatcher for tests: owns org.kde.StatusNotifierWatcher on the session bus, announces a
registered host, and keeps the list of registered items as "service/path" strings the way a desktop's
watcher does, so a tray icon can register and tests can find and click it."""

import dbus

from dbusmock import mockobject

BUS_NAME = "org.kde.StatusNotifierWatcher"
MAIN_OBJ = "/StatusNotifierWatcher"
MAIN_IFACE = "org.kde.StatusNotifierWatcher"
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(
        MAIN_IFACE,
        dbus.Dictionary(
            {
                "IsStatusNotifierHostRegistered": dbus.Boolean(parameters.get("HostRegistered", True)),
                "ProtocolVersion": dbus.Int32(0),
                "RegisteredStatusNotifierItems": dbus.Array([], signature="s"),
            },
            signature="sv",
        ),
    )


def _items(self):
    return list(self.Get(MAIN_IFACE, "RegisteredStatusNotifierItems"))


@dbus.service.method(MAIN_IFACE, in_signature="s", out_signature="", sender_keyword="sender")
def RegisterStatusNotifierItem(self, service, sender=None):
    # Items register either a bus name (their object then sits at /StatusNotifierItem) or an object path
    # on their own connection.
    if service.startswith("/"):
        entry = f"{sender}{service}"
    else:
        entry = f"{service}/StatusNotifierItem"
    items = _items(self)
    if entry not in items:
        items.append(entry)
        self.UpdateProperties(MAIN_IFACE, {"RegisteredStatusNotifierItems": dbus.Array(items, signature="s")})
    self.EmitSignal(MAIN_IFACE, "StatusNotifierItemRegistered", "s", [entry])


@dbus.service.method(MAIN_IFACE, in_signature="s", out_signature="")
def RegisterStatusNotifierHost(self, _service):
    self.UpdateProperties(MAIN_IFACE, {"IsStatusNotifierHostRegistered": dbus.Boolean(True)})
    self.EmitSignal(MAIN_IFACE, "StatusNotifierHostRegistered", "", [])


@dbus.service.method(mockobject.MOCK_IFACE, in_signature="s", out_signature="")
def UnregisterItem(self, entry):
    """Drops an item as the watcher does when its owner leaves the bus."""
    items = [i for i in _items(self) if i != entry]
    self.UpdateProperties(MAIN_IFACE, {"RegisteredStatusNotifierItems": dbus.Array(items, signature="s")})
    self.EmitSignal(MAIN_IFACE, "StatusNotifierItemUnregistered", "s", [entry])
