#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace tavrine {

// One running Tavrine per session, held by a name on the session bus. A second launch asks the first
// to open its panel and then leaves.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "expert.brightfen.Tavrine")
  public:
    static constexpr const char* busName = "expert.brightfen.Tavrine";
    static constexpr const char* objectPath = "/expert/brightfen/Tavrine";

    enum class Outcome {
        first,       // this process holds the name
        handedOver,  // another instance runs and opened its panel
        notAnswered, // the name is held, but its holder did not answer (hung, or not Tavrine)
        noSessionBus // no session bus: nothing to coordinate with
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name, or asks its holder to open the panel.
    Outcome claim();
    // Called when another launch asks for the panel.
    void setOpenPanelHandler(std::function<void()> handler) { openPanel_ = std::move(handler); }

  public slots:
    Q_SCRIPTABLE void OpenPanel();

  private:
    std::function<void()> openPanel_;
    bool registered_ = false;
};

} // namespace tavrine
