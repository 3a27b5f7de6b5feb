"""The GlobalShortcuts desktop portal for tests, answering CreateSession and BindShortcuts as xdg-desktop-portal
does: a request object named after the caller and its handle_token, then a Response signal on it.
--parameters {"bind_response": 0 the user accepts (default), 1 cancels, 2 the desktop ends the request,
"unbound" accepted without a trigger, "error" AccessDenied, "malformed" accepted with a list of the wrong type; "registry": "absent" (the default: a portal from before
the host registry, as Debian 12's 1.16), "required" (from 1.21: an unsandboxed caller must register a valid
application id with org.freedesktop.host.portal.Registry before its first portal call, or CreateSession is
refused)}. Mock methods: Activate(s) the user presses the
keys (Activated, Deactivated), Sessions() the open sessions, EndSessions() the desktop ends them (Closed)."""

import time

import dbus
from dbusmock import mockobject
from gi.repository import GLib

BUS_NAME = "org.freedesktop.portal.Desktop"
MAIN_OBJ = "/org/freedesktop/portal/desktop"
MAIN_IFACE = "org.freedesktop.portal.GlobalShortcuts"
SYSTEM_BUS = False
REGISTRY_IFACE = "org.freedesktop.host.portal.Registry"
REQUEST_IFACE = "org.freedesktop.portal.Request"
SESSION_IFACE = "org.freedesktop.portal.Session"


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({"version": dbus.UInt32(1)}, signature="sv"))
    answer = str(parameters.get("bind_response", 0))
    mock.bind_response = int(answer) if answer.isdigit() else answer
    mock.portal_sessions = {}  # path -> bound shortcut ids
    mock.registry_required = parameters.get("registry", "absent") == "required"
    mock.app_ids = {}  # sender -> registered application id
    mock.callers = set()  # senders that made a portal call
    if mock.registry_required:
        mock.AddProperties(REGISTRY_IFACE, dbus.Dictionary({"version": dbus.UInt32(1)}, signature="sv"))


def _valid_app_id(app_id):
    """As GLib's g_application_id_is_valid: two elements or more, of [A-Za-z0-9_-], none starting with a digit."""
    elements = app_id.split(".")
    return 0 < len(app_id) <= 255 and len(elements) >= 2 and all(
        e and not e[0].isdigit() and all(c.isalnum() or c in "_-" for c in e) for e in elements)


@dbus.service.method(REGISTRY_IFACE, in_signature="sa{sv}", out_signature="", sender_keyword="sender")
def Register(self, app_id, _options, sender=None):
    if not self.registry_required:
        raise dbus.exceptions.DBusException("No such interface", name="org.freedesktop.DBus.Error.UnknownMethod")
    if sender in self.app_ids or sender in self.callers:
        raise dbus.exceptions.DBusException("Connection already associated with an application ID",
                                            name="org.freedesktop.portal.Error.Failed")
    if not _valid_app_id(str(app_id)):
        raise dbus.exceptions.DBusException(f"Invalid app ID {app_id}", name="org.freedesktop.portal.Error.InvalidArgument")
    self.app_ids[sender] = str(app_id)


@dbus.service.method(mockobject.MOCK_IFACE, in_signature="", out_signature="a{ss}")
def AppIds(self):
    return dbus.Dictionary(self.app_ids, signature="ss")


def _element(sender):
    return sender.lstrip(":").replace(".", "_")


def _answer_later(mock, sender, options, response, results):
    """Creates the request object and sends its Response once the call has returned."""
    path = f"{MAIN_OBJ}/request/{_element(sender)}/{options.get('handle_token', 'anonymous')}"
    mock.AddObject(path, REQUEST_IFACE, {}, [("Close", "", "", "")])

    def respond():
        mockobject.objects[path].EmitSignal(REQUEST_IFACE, "Response", "ua{sv}", [dbus.UInt32(response), results])
        mock.RemoveObject(path)
        return False

    GLib.timeout_add(20, respond)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
def CreateSession(self, options, sender=None):
    self.callers.add(sender)
    if self.registry_required and sender not in self.app_ids:
        raise dbus.exceptions.DBusException("An app id is required", name="org.freedesktop.portal.Error.NotAllowed")
    session = f"{MAIN_OBJ}/session/{_element(sender)}/{options['session_handle_token']}"
    # Closing the session forgets it, as the portal does.
    self.AddObject(session, SESSION_IFACE, {}, [("Close", "", "", f"objects['{MAIN_OBJ}'].portal_sessions.pop(self.path, None)")])
    self.portal_sessions[session] = []
    return _answer_later(self, sender, options, 0, dbus.Dictionary({"session_handle": session}, signature="sv"))


@dbus.service.method(MAIN_IFACE, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
def BindShortcuts(self, session, shortcuts, _parent_window, options, sender=None):
    if self.bind_response == "error":
        raise dbus.exceptions.DBusException("not allowed", name="org.freedesktop.DBus.Error.AccessDenied")
    bound = dbus.Array([], signature="(sa{sv})")
    if self.bind_response == "malformed":
        bound = dbus.Array([(shortcut_id, "x") for shortcut_id, _props in shortcuts], signature="(ss)")
    if self.bind_response == 0:
        for shortcut_id, props in shortcuts:
            keys = {"description": props.get("description", ""), "trigger_description": props.get("preferred_trigger", "")}
            bound.append((shortcut_id, dbus.Dictionary(keys, signature="sv")))
        self.portal_sessions[str(session)] = [str(s[0]) for s in shortcuts]
    response = self.bind_response if isinstance(self.bind_response, int) else 0
    return _answer_later(self, sender, options, response, dbus.Dictionary({"shortcuts": bound}, signature="sv"))


@dbus.service.method(mockobject.MOCK_IFACE, in_signature="s", out_signature="")
def Activate(self, shortcut_id):
    stamp = dbus.UInt64(int(time.time() * 1000))
    for session, ids in self.portal_sessions.items():
        if shortcut_id in ids:
            args = [dbus.ObjectPath(session), shortcut_id, stamp, dbus.Dictionary({}, signature="sv")]
            self.EmitSignal(MAIN_IFACE, "Activated", "osta{sv}", args)
            self.EmitSignal(MAIN_IFACE, "Deactivated", "osta{sv}", args)


@dbus.service.method(mockobject.MOCK_IFACE, in_signature="", out_signature="as")
def Sessions(self):
    return dbus.Array(list(self.portal_sessions.keys()), signature="s")


@dbus.service.method(mockobject.MOCK_IFACE, in_signature="", out_signature="")
def EndSessions(self):
    for session in list(self.portal_sessions):
        mockobject.objects[session].EmitSignal(SESSION_IFACE, "Closed", "a{sv}", [dbus.Dictionary({}, signature="sv")])
        self.RemoveObject(session)
    self.portal_sessions.clear()
