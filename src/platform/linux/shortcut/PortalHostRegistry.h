#pragma once

#include <QDBusConnection>
#include <QString>

#include <ostream>

namespace tavrine {

// Tells the desktop portal which application this unsandboxed process is (its host registry): current
// portals grant a global shortcut only to a program with an application id, which must name an installed
// desktop entry. Must come before any other portal call on the connection, which the portal holds to the
// id it saw first; the call is sent at once and its answer not waited for (messages to the portal keep
// their order). Portals older than the registry answer with an unknown method, which is fine: they ask
// for no id. Any other refusal is told in one line.
void registerWithPortal(const QDBusConnection& bus, const QString& appId, std::ostream& diagnostics);

} // namespace tavrine
