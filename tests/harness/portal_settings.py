"""The desktop portal's Settings interface for tests: owns org.freedesktop.portal.Desktop on the session bus
and answers the appearance settings, of which "color-scheme" (0 no preference, 1 dark, 2 light) can be
changed by SetColorScheme, which also emits SettingChanged as a desktop does when the user switches."""

import dbus

from dbusmock import mockobject

BUS_NAME = "org.freedesktop.portal.Desktop"
MAIN_OBJ = "/org/freedesktop/portal/desktop"
MAIN_IFACE = "org.freedesktop.portal.Settings"
SYSTEM_BUS = False
APPEARANCE = "org.freedesktop.appearance"


def load(mock, parameters):
    mock.color_scheme = dbus.UInt32(parameters.get("ColorScheme", 0))
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({"version": dbus.UInt32(1)}, signature="sv"))


@dbus.service.method(MAIN_IFACE, in_signature="ss", out_signature="v")
def Read(self, namespace, key):
    if namespace == APPEARANCE and key == "color-scheme":
        # The first version of the interface wraps the value in a second variant.
        return dbus.UInt32(self.color_scheme, variant_level=2)
    raise dbus.exceptions.DBusException(
        f"Requested setting {namespace}.{key} not found", name="org.freedesktop.portal.Error.NotFound")


@dbus.service.method(MAIN_IFACE, in_signature="as", out_signature="a{sa{sv}}")
def ReadAll(self, namespaces):
    return {APPEARANCE: {"color-scheme": self.color_scheme}}


@dbus.service.method(mockobject.MOCK_IFACE, in_signature="u", out_signature="")
def SetColorScheme(self, value):
    self.color_scheme = dbus.UInt32(value)
    self.EmitSignal(MAIN_IFACE, "SettingChanged", "ssv", [APPEARANCE, "color-scheme", self.color_scheme])
