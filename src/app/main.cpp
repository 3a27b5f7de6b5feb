#include "app/AppDelegate.h"
#include "app/AppWiring.h"
#include "app/shell/CommandLine.h"
#include "app/shell/MainThreadProbe.h"
#include "app/shell/SingleInstance.h"
#include "app/shell/TerminationSignals.h"
#include "platform/linux/appearance/PortalColorScheme.h"
#include "platform/linux/i18n/QtLocalizer.h"
#include "platform/linux/shortcut/PortalHostRegistry.h"
#include "platform/linux/wayland/OverlayRoute.h"
#include "ui/shared/ColorScheme.h"
#include "ui/tray/TrayController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QSessionManager>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

using namespace tavrine;

namespace {

// --help and --version answer without a display: look for them before Qt needs one.
int answerWithoutDisplay(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(CommandLine::helpText().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::fputs(CommandLine::versionText().toLocal8Bit().constData(), stdout);
            return 0;
        }
    }
    return -1;
}

// Without a display Qt would abort; say so in one line instead. QT_QPA_PLATFORM may list platforms for Qt
// to try in turn ("wayland;xcb"): one whose display is there is enough.
bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform) {
        return set("DISPLAY") || set("WAYLAND_DISPLAY");
    }
    for (std::string_view rest = platform;;) {
        const std::size_t end = rest.find(';');
        const std::string_view entry = rest.substr(0, end);
        // offscreen, vnc and the like need no desktop.
        if (entry.starts_with("xcb")       ? set("DISPLAY")
            : entry.starts_with("wayland") ? set("WAYLAND_DISPLAY")
                                           : !entry.empty()) {
            return true;
        }
        if (end == std::string_view::npos) {
            return false;
        }
        rest.remove_prefix(end + 1);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (const int code = answerWithoutDisplay(argc, argv); code >= 0) {
        return code;
    }
    if (!hasDisplay()) {
        std::fputs("tavrine\u00a0: aucun affichage graphique (DISPLAY ou WAYLAND_DISPLAY non défini)\u202f; "
                   "Tavrine a besoin d\u2019une session de bureau.\n",
                   stderr);
        return 1;
    }

    // Before the QApplication: the route may point Qt at XWayland.
    const OverlayRoute route = OverlayRoute::choose();
    if (!route.line.empty()) {
        std::fprintf(stderr, "%s\n", route.line.c_str());
    }

    QApplication app(argc, argv);
    // A tray agent starts at login through its autostart entry (the login item) or not at all: an X
    // session manager that restores the last session would start it again, also with the login item off,
    // and a second time beside it. Tavrine stays its client, so that the end of the session quits it
    // cleanly, but asks never to be restarted.
    const auto neverRestart = [](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
    };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, neverRestart);
    QObject::connect(&app, &QGuiApplication::saveStateRequest, neverRestart);
    QApplication::setApplicationName(QStringLiteral("Tavrine"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRINE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("expert.brightfen.Tavrine"));
    // Task switchers match the windows to the desktop entry by their class ("Tavrine", the entry's
    // StartupWMClass) and show this icon where they do not.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tavrine"), QIcon(QStringLiteral(":/icons/tavrine.svg"))));
    // A tray agent: closing a window never ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    const CommandLine commandLine = CommandLine::parse(QApplication::arguments());
    if (commandLine.action == CommandLine::Action::error) {
        std::fprintf(stderr, "tavrine\u00a0: %s\nEssayez «\u00a0tavrine --help\u00a0».\n",
                     commandLine.error.toLocal8Bit().constData());
        return 2;
    }

    if (!QDBusConnection::sessionBus().isConnected()) {
        std::fputs("tavrine\u00a0: pas de bus de session D-Bus\u202f; le filtre fonctionne, mais sans "
                   "notifications, sans zone de notification ni instance unique.\n",
                   stderr);
    }

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Outcome::handedOver:
        // The running instance keeps its own camera: a source asked for here would otherwise be dropped
        // without a word.
        if (!commandLine.camera.isEmpty()) {
            std::fprintf(stderr,
                         "tavrine\u00a0: Tavrine est déjà lancé et ouvre son panneau\u202f; il garde sa "
                         "caméra, l\u2019option --camera ne vaut qu\u2019au démarrage (quittez Tavrine, puis "
                         "relancez-le avec elle).\n");
        }
        return 0;
    case SingleInstance::Outcome::notAnswered:
        // Starting anyway would make two filters fight for the camera; leaving in silence would leave the
        // screen unprotected without a word.
        std::fprintf(
            stderr,
            "tavrine\u00a0: une autre instance tient le nom %s sur le bus de session mais ne répond "
            "pas\u202f; arrêtez-la (par exemple «\u00a0pkill -x tavrine\u00a0») puis relancez Tavrine.\n",
            SingleInstance::busName);
        return 1;
    case SingleInstance::Outcome::first:
    case SingleInstance::Outcome::noSessionBus:
        break;
    }

    // Before any other portal call (the colour scheme below, the shortcut later): the portal keeps the id
    // it saw first.
    registerWithPortal(QDBusConnection::sessionBus(), QApplication::desktopFileName(), std::cerr);

    MainThreadProbe probe;
    // Light or dark as the desktop prefers: asked now, taken when the desktop answers and at every change.
    ColorScheme colorScheme;
    PortalColorScheme desktopScheme(QDBusConnection::sessionBus());
    QObject::connect(&desktopScheme, &PortalColorScheme::told, &desktopScheme,
                     [&colorScheme](PortalColorScheme::Preference told) {
                         colorScheme.apply(
                             told == PortalColorScheme::Preference::dark    ? ColorScheme::Preference::dark
                             : told == PortalColorScheme::Preference::light ? ColorScheme::Preference::light
                                                                            : ColorScheme::Preference::none);
                     });
    QtLocalizer localizer;
    localizer.installQtTranslations();
    AppWiring wiring(AppWiring::Options{commandLine.camera, route.kind}, localizer);
    AppDelegate delegate(wiring.context());

    instance.setOpenPanelHandler([&delegate] {
        if (TrayController* tray = delegate.trayController()) {
            tray->openPanel();
        }
    });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app,
                     [] { QApplication::quit(); });
    const Subscription quitRequests =
        wiring.context().appSignals.quitRequested.subscribe([] { QApplication::quit(); });
    // Quitting from the panel, a signal or the end of the desktop session all pass here: the filter
    // stops (overlay hidden, camera released, alert withdrawn) before the process ends. The event loop
    // has returned already, so what the stop posted runs here, before the settings file is written.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate, &wiring] {
        delegate.applicationWillTerminate();
        wiring.runPostedTasks();
    });

    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
