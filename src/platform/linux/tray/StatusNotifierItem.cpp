#include "platform/linux/tray/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

namespace tavrine {
namespace {

constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
constexpr const char* watcherPath = "/StatusNotifierWatcher";

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<SniImage>();
        qDBusRegisterMetaType<SniImageList>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    (void)done;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const SniImage& image) {
    arg.beginStructure();
    arg << image.width << image.height << image.argb;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniImage& image) {
    arg.beginStructure();
    arg >> image.width >> image.height >> image.argb;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.image << tip.title << tip.text;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.image >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}

SniImage StatusNotifierItem::image(const QImage& source) {
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    SniImage out{argb.width(), argb.height(), QByteArray()};
    out.argb.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* dst = reinterpret_cast<quint32*>(out.argb.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            *dst++ = qToBigEndian(line[x]);
        }
    }
    return out;
}

StatusNotifierItem::StatusNotifierItem(QObject* parent) : QObject(parent) {
    registerTypes();
    new StatusNotifierItemAdaptor(this);
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
}

StatusNotifierItem::~StatusNotifierItem() {
    if (exported_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QString::fromLatin1(objectPath));
        bus.unregisterService(serviceName_);
    }
}

bool StatusNotifierItem::registerWithWatcher() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    if (!exported_) {
        if (!bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors) ||
            !bus.registerService(serviceName_)) {
            bus.unregisterObject(QString::fromLatin1(objectPath));
            return false;
        }
        exported_ = true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), QString::fromLatin1(watcherPath),
        QString::fromLatin1(watcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    // Not waited for: a watcher may read the item's properties before it answers.
    bus.asyncCall(call);
    return true;
}

void StatusNotifierItem::setIcon(const QString& themeName, const QIcon& pixmaps) {
    iconName_ = themeName;
    pixmaps_ = pixmaps;
    Q_EMIT iconChanged();
}

void StatusNotifierItem::setNeedsAttention(bool attention) {
    if (attention_ == attention) {
        return;
    }
    attention_ = attention;
    Q_EMIT statusChanged(status());
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (toolTip_ == text) {
        return;
    }
    toolTip_ = text;
    Q_EMIT toolTipChanged();
}

SniImageList StatusNotifierItem::pixmaps() const {
    SniImageList list;
    for (const QSize& size : pixmaps_.availableSizes()) {
        list.append(image(pixmaps_.pixmap(size).toImage()));
    }
    return list;
}

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem* item)
    : QDBusAbstractAdaptor(item), item_(item) {
    connect(item, &StatusNotifierItem::iconChanged, this, [this] {
        Q_EMIT NewIcon();
        Q_EMIT NewAttentionIcon();
    });
    connect(item, &StatusNotifierItem::statusChanged, this, &StatusNotifierItemAdaptor::NewStatus);
    connect(item, &StatusNotifierItem::toolTipChanged, this, &StatusNotifierItemAdaptor::NewToolTip);
}

SniToolTip StatusNotifierItemAdaptor::toolTip() const {
    // The first line is the title; what follows, the text under it.
    const QString tip = item_->toolTip();
    const qsizetype split = tip.indexOf(QLatin1Char('\n'));
    return SniToolTip{
        item_->iconName(), {}, split < 0 ? tip : tip.left(split), split < 0 ? QString() : tip.mid(split + 1)};
}

void StatusNotifierItemAdaptor::Activate(int x, int y) {
    Q_EMIT item_->activated(QPoint(x, y));
}

void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y) {
    Q_EMIT item_->activated(QPoint(x, y));
}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y) {
    Q_EMIT item_->activated(QPoint(x, y));
}

void StatusNotifierItemAdaptor::Scroll(int, const QString&) {}

} // namespace tavrine
