#pragma once

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

namespace tavrine {

// One rendering of an icon as a tray host reads it: ARGB32, each pixel's bytes in network order.
struct SniImage {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniImageList = QList<SniImage>;

struct SniToolTip {
    QString iconName;
    SniImageList image;
    QString title;
    QString text;
};

} // namespace tavrine

Q_DECLARE_METATYPE(tavrine::SniImage)
Q_DECLARE_METATYPE(tavrine::SniToolTip)

namespace tavrine {

// The tray item as a StatusNotifierItem on the session bus. It names its icon from the icon theme, so the
// tray host draws and recolours it for its panel, and sends pixmaps alongside for hosts that cannot find
// the name. Its status asks for attention while an alert lasts. Activations carry the point the host
// gives, where the panel opens.
class StatusNotifierItem : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* objectPath = "/StatusNotifierItem";

    explicit StatusNotifierItem(QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Owns the item's bus name, exports the item and tells the watcher; again after the watcher restarted.
    // False when the item could not be put on the session bus.
    bool registerWithWatcher();

    void setIcon(const QString& themeName, const QIcon& pixmaps);
    void setNeedsAttention(bool attention);
    void setToolTip(const QString& text);
    // Where hosts look for theme names the installed themes do not hold (the source tree's icons).
    void setIconThemePath(const QString& path) { iconThemePath_ = path; }

    const QString& serviceName() const { return serviceName_; }
    const QString& iconName() const { return iconName_; }
    QString status() const {
        return attention_ ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
    }
    const QString& toolTip() const { return toolTip_; }
    const QString& iconThemePath() const { return iconThemePath_; }
    SniImageList pixmaps() const;

    static SniImage image(const QImage& image);

  Q_SIGNALS:
    // Activate and ContextMenu from the host; the point is in screen coordinates, null when the host
    // gave none.
    void activated(QPoint at);
    // Emitted for the adaptor's change signals.
    void iconChanged();
    void statusChanged(const QString& status);
    void toolTipChanged();

  private:
    QString serviceName_;
    QString iconName_;
    QIcon pixmaps_;
    QString iconThemePath_;
    QString toolTip_;
    bool attention_ = false;
    bool exported_ = false;
};

// The org.kde.StatusNotifierItem interface of a StatusNotifierItem.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(tavrine::SniImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(tavrine::SniImageList OverlayIconPixmap READ noImage)
    Q_PROPERTY(QString AttentionIconName READ iconName)
    Q_PROPERTY(tavrine::SniImageList AttentionIconPixmap READ iconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(tavrine::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
  public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("tavrine"); }
    QString title() const { return QStringLiteral("Tavrine"); }
    QString status() const { return item_->status(); }
    int windowId() const { return 0; }
    QString iconName() const { return item_->iconName(); }
    QString iconThemePath() const { return item_->iconThemePath(); }
    SniImageList iconPixmap() const { return item_->pixmaps(); }
    QString empty() const { return {}; }
    SniImageList noImage() const { return {}; }
    SniToolTip toolTip() const;
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

  public Q_SLOTS:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

  Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

  private:
    StatusNotifierItem* item_;
};

QDBusArgument& operator<<(QDBusArgument& arg, const SniImage& image);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniImage& image);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);

} // namespace tavrine
