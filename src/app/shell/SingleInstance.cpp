#include "app/shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>

namespace tavrine {

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QString::fromLatin1(objectPath));
        bus.unregisterService(QString::fromLatin1(busName));
    }
}

SingleInstance::Outcome SingleInstance::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) {
        return Outcome::noSessionBus;
    }
    const QString name = QString::fromLatin1(busName);
    const QString path = QString::fromLatin1(objectPath);
    // A holder that is quitting (a restart: quit, then launch at once) keeps the name until it has closed
    // the camera, and answers nothing meanwhile: once it is gone, the name is free to take. One that holds
    // it without answering for 15 s is hung, or is not Tavrine.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        // The object first, so a second launch that sees the name can always reach it.
        bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots);
        const auto reply = bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                            QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            registered_ = true;
            return Outcome::first;
        }
        bus.unregisterObject(path);
        if (!reply.isValid()) {
            // The bus refuses the name itself (a sandbox's policy): there is no instance to coordinate with.
            return Outcome::noSessionBus;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(name, path, name, QStringLiteral("OpenPanel"));
        const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
        if (answer.type() == QDBusMessage::ReplyMessage) {
            return Outcome::handedOver;
        }
        if (waited.elapsed() > 15'000) {
            return Outcome::notAnswered;
        }
        QThread::msleep(100);
    }
}

void SingleInstance::OpenPanel() {
    if (openPanel_) {
        openPanel_();
    }
}

} // namespace tavrine
