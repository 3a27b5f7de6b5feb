"""A StatusNotifierWatcher for tests: owns org.kde.StatusNotifierWatcher on the session bus, announces a
registered host, and keeps the list of registered items as "service/path" strings the way a desktop's
watcher does, so a tray icon can register and tests can find and click it."""

import dbus

BUS_NAME = "org.kde.StatusNotifierWatcher"
MAIN_OBJ = "/StatusNotifierWatcher"
MAIN_IFACE = "org.kde.StatusNotifierWatcher"
SYSTEM_BUS = False


def load(mock, parameters):
    items = dbus.Array([], signature="s")
    props = {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": 0, "RegisteredStatusNotifierItems": items}
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary(props, signature="sv"))
    # An item goes when its owner leaves the bus.
    mock.connection.add_signal_receiver(lambda name, _old, new: new or _owner_left(mock, name), "NameOwnerChanged",
                                        "org.freedesktop.DBus")


def _set_items(self, items, signal, entry):
    self.UpdateProperties(MAIN_IFACE, {"RegisteredStatusNotifierItems": dbus.Array(items, signature="s")})
    self.EmitSignal(MAIN_IFACE, signal, "s", [entry])


@dbus.service.method(MAIN_IFACE, in_signature="s", out_signature="", sender_keyword="sender")
def RegisterStatusNotifierItem(self, service, sender=None):
    # Items register either a bus name (their object then sits at /StatusNotifierItem) or an object path
    # on their own connection.
    entry = f"{sender}{service}" if service.startswith("/") else f"{service}/StatusNotifierItem"
    items = list(self.Get(MAIN_IFACE, "RegisteredStatusNotifierItems"))
    _set_items(self, items + [entry] if entry not in items else items, "StatusNotifierItemRegistered", entry)


def _owner_left(self, owner):
    for entry in [i for i in self.Get(MAIN_IFACE, "RegisteredStatusNotifierItems") if i.split("/")[0] == owner]:
        items = [i for i in self.Get(MAIN_IFACE, "RegisteredStatusNotifierItems") if i != entry]
        _set_items(self, items, "StatusNotifierItemUnregistered", entry)
