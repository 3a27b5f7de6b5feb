#include "app/shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

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
    // The object first, so a second launch that sees the name can always reach it.
    bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportScriptableSlots);
    const auto reply = bus.interface()->registerService(QString::fromLatin1(busName),
                                                        QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        registered_ = true;
        return Outcome::first;
    }
    bus.unregisterObject(QString::fromLatin1(objectPath));
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(busName), QString::fromLatin1(objectPath),
                                       QString::fromLatin1(busName), QStringLiteral("OpenPanel"));
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    return answer.type() == QDBusMessage::ReplyMessage ? Outcome::handedOver : Outcome::notAnswered;
}

void SingleInstance::OpenPanel() {
    if (openPanel_) {
        openPanel_();
    }
}

} // namespace tavrine
