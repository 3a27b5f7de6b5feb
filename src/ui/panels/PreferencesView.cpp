#include "ui/panels/PreferencesView.h"

#include "ui/panels/CalibrationView.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/SegmentedPicker.h"
#include "ui/shared/Symbols.h"
#include "ui/shared/ToggleSwitch.h"
#include "ui/shared/Widgets.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <utility>

namespace tavrine {
namespace {

QWidget* sectionHeader(const QString& icon, const QString& title, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 4);
    l->setSpacing(6);
    auto* pic = new QLabel(row);
    pic->setPixmap(Symbols::pixmap(icon, AppColors::accent(), 14, parent->devicePixelRatioF()));
    l->addWidget(pic);
    l->addWidget(widgets::label(title, 13, QFont::DemiBold, AppColors::textPrimary(), row));
    l->addStretch(1);
    return row;
}

// Label and hint on the left (at most 200 px), the control on the right.
QWidget* prefRow(const QString& label, const QString& hint, QWidget* control, QWidget* parent,
                 QLabel** hintOut = nullptr) {
    auto* row = new QWidget(parent);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(16);
    auto* texts = new QWidget(row);
    texts->setFixedWidth(200);
    auto* tl = new QVBoxLayout(texts);
    tl->setContentsMargins(0, 0, 0, 0);
    tl->setSpacing(2);
    auto* title = widgets::label(label, 13, QFont::Normal, AppColors::textPrimary(), texts);
    title->setWordWrap(true);
    auto* hintLabel = widgets::label(hint, 11, QFont::Normal, AppColors::textSecondary(), texts);
    hintLabel->setWordWrap(true);
    tl->addWidget(title);
    tl->addWidget(hintLabel);
    l->addWidget(texts, 0, Qt::AlignVCenter);
    // Sliders take the remaining width; switches and pickers keep their own, on the left.
    const bool stretches = control->maximumWidth() == QWIDGETSIZE_MAX &&
                           control->sizePolicy().horizontalPolicy() != QSizePolicy::Fixed &&
                           !qobject_cast<QAbstractButton*>(control);
    l->addWidget(control, 1, stretches ? Qt::AlignVCenter : Qt::AlignVCenter | Qt::AlignLeft);
    // A screen reader names the row's control by the row's label: a switch or a slider takes it (a
    // switch the hint too); each segment of a picker, and a button beside a value, keeps its own text
    // and says which row it belongs to.
    if (qobject_cast<QAbstractButton*>(control)) {
        control->setAccessibleName(label);
        control->setAccessibleDescription(hint);
    }
    for (auto* slider : control->findChildren<QAbstractSlider*>()) {
        slider->setAccessibleName(label);
    }
    for (auto* button : control->findChildren<QAbstractButton*>()) {
        button->setAccessibleDescription(label);
    }
    if (hintOut) {
        *hintOut = hintLabel;
    }
    return row;
}

QWidget* sliderRow(QSlider* slider, QLabel* value, int valueWidth, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* l = new QHBoxLayout(box);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(8);
    value->setFixedWidth(valueWidth);
    QFont f = widgets::font(12);
    f.setStyleHint(QFont::Monospace);
    f.setFamily(QStringLiteral("monospace"));
    value->setFont(f);
    widgets::setTextColor(value, AppColors::textSecondary());
    l->addWidget(slider, 1);
    l->addWidget(value);
    return box;
}

// A wheel turned over the page scrolls it: a slider it passes over, the one just dragged included (it keeps
// the focus), keeps its value and saves nothing. Sliders move by dragging or by the keyboard.
class PageSlider final : public QSlider {
  public:
    using QSlider::QSlider;

  protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

QSlider* makeSlider(int min, int max, QWidget* parent) {
    auto* s = new PageSlider(Qt::Horizontal, parent);
    s->setFocusPolicy(Qt::StrongFocus);
    s->setRange(min, max);
    s->setSingleStep(1);
    s->setPageStep(1);
    s->setTickPosition(QSlider::NoTicks);
    return s;
}

// The coefficient moves by 0.5 from 0.5 to 4.0 and the stripe opacity by 0.05 from 0.3 to 1.0: the
// sliders work in whole steps.
constexpr double coefficientStep = 0.5;
constexpr double stripeStep = 0.05;

} // namespace

QString PreferencesView::coefficientText(float coefficient) {
    return QString::asprintf("×%.1f", double(coefficient));
}

QString PreferencesView::stripeAlphaText(float alpha) {
    // In single precision, as the field is stored: 0.72 shows 72%, not 71%.
    const float percent = alpha * 100.0f;
    return QStringLiteral("%1\u00a0%").arg(int(percent));
}

PreferencesView::PreferencesView(const UiContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("PreferencesView"));
    widgets::clickOnEnter(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The area itself would be a Tab stop that shows no focus: the Tab key goes from control to control,
    // and the area scrolls to show each one it reaches.
    scroll->setFocusPolicy(Qt::NoFocus);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(0);
    scroll->setWidget(content);

    auto addSection = [&](const QString& icon, const QString& title, const QList<QWidget*>& rows) {
        auto* section = new QWidget(content);
        auto* sl = new QVBoxLayout(section);
        sl->setContentsMargins(0, 0, 0, 0);
        sl->setSpacing(14);
        sl->addWidget(sectionHeader(icon, title, section));
        for (QWidget* r : rows) {
            r->setParent(section);
            sl->addWidget(r);
        }
        column->addWidget(section);
    };
    auto addDivider = [&] {
        column->addSpacing(12);
        column->addWidget(widgets::divider(content));
        column->addSpacing(12);
    };

    // Said first, where it cannot be missed: what is changed below lasts only until Tavrine closes.
    unsavedLine_ = widgets::label(QString(), 12, QFont::Normal, AppColors::warning(), content);
    unsavedLine_->setObjectName(QStringLiteral("unsavedLine"));
    unsavedLine_->setWordWrap(true);
    unsavedLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    unsavedLine_->setContentsMargins(0, 0, 0, 16);
    unsavedLine_->hide();
    column->addWidget(unsavedLine_);

    strength_ = makeSlider(1, 5, content);
    strengthValue_ = new QLabel(content);
    sensitivity_ = makeSlider(1, 5, content);
    sensitivityValue_ = new QLabel(content);
    delay_ = new SegmentedPicker({{"0,5\u00a0s", 500},
                                  {"1\u00a0s", 1000},
                                  {"1,5\u00a0s", 1500},
                                  {"2\u00a0s", 2000},
                                  {"3\u00a0s", 3000}},
                                 260, content);
    glasses_ = new ToggleSwitch(content);
    addSection(
        QStringLiteral("view-visible"), QStringLiteral("Détection"),
        {prefRow(QStringLiteral("Force du filtre"), QStringLiteral("Opacité de l’overlay de confidentialité"),
                 sliderRow(strength_, strengthValue_, 20, content), content),
         prefRow(QStringLiteral("Sensibilité"), QStringLiteral("Réactivité aux mouvements de tête"),
                 sliderRow(sensitivity_, sensitivityValue_, 20, content), content),
         prefRow(QStringLiteral("Délai d’inattention"),
                 QStringLiteral("Temps avant de considérer que vous ne regardez plus"), delay_, content),
         prefRow(QStringLiteral("Mode lunettes"),
                 QStringLiteral("Réduit les faux positifs si vous portez des lunettes"), glasses_, content)});
    addDivider();

    launchAtLogin_ = new ToggleSwitch(content);
    shortcut_ = new ToggleSwitch(content);
    allScreens_ = new ToggleSwitch(content);
    haptic_ = new ToggleSwitch(content);
    lock_ = new ToggleSwitch(content);
    lockDelay_ = new SegmentedPicker({{QStringLiteral("30\u00a0s"), 30'000},
                                      {QStringLiteral("1\u00a0min"), 60'000},
                                      {QStringLiteral("2\u00a0min"), 120'000}},
                                     200, content);
    lockDelay_->setGraphicsEffect(new QGraphicsOpacityEffect(lockDelay_));
    addSection(
        QStringLiteral("slider.horizontal.3"), QStringLiteral("Comportement"),
        {prefRow(QStringLiteral("Lancer au démarrage"), QString::fromUtf8(launchAtLoginHintText),
                 launchAtLogin_, content, &launchAtLoginHint_),
         prefRow(QStringLiteral("Raccourci global ") + ctx.tr("⌘⇧C"), QString(), shortcut_, content,
                 &shortcutHint_),
         prefRow(QStringLiteral("Couvrir tous les écrans"),
                 QStringLiteral("Étend l’overlay à chaque moniteur connecté"), allScreens_, content),
         prefRow(QStringLiteral("Vibration lors d’une alerte"),
                 QStringLiteral("Retour haptique quand un regard indiscret est détecté"), haptic_, content),
         prefRow(
             QStringLiteral("Verrouiller la session quand je m\u2019absente"),
             QStringLiteral("Quand aucun visage n\u2019est devant l\u2019\u00e9cran pendant ce d\u00e9lai"),
             lock_, content),
         prefRow(QStringLiteral("D\u00e9lai avant verrouillage"),
                 QStringLiteral("Une notification pr\u00e9vient au bout de ce d\u00e9lai\u202f; la session "
                                "se verrouille 10\u00a0s plus tard"),
                 lockDelay_, content)});
    addDivider();

    matrix_ = new ToggleSwitch(content);
    coefficient_ = makeSlider(1, 8, content);
    coefficientValue_ = new QLabel(content);
    stripeAlpha_ = makeSlider(6, 20, content);
    stripeAlphaValue_ = new QLabel(content);
    coefficientRow_ = sliderRow(coefficient_, coefficientValue_, 36, content);
    stripeAlphaRow_ = sliderRow(stripeAlpha_, stripeAlphaValue_, 36, content);
    for (QWidget* dimmable : {coefficientRow_, stripeAlphaRow_}) {
        dimmable->setGraphicsEffect(new QGraphicsOpacityEffect(dimmable));
    }
    addSection(QStringLiteral("dot.squareshape.split.2x2"), QStringLiteral("Matrice de confidentialité"),
               {prefRow(QStringLiteral("Activer la matrice"),
                        QStringLiteral("Affiche un motif de bandes qui rend l’écran illisible de côté"),
                        matrix_, content),
                prefRow(QStringLiteral("Coefficient de distance"),
                        QStringLiteral("Amplifie la distance estimée pour une protection plus large"),
                        coefficientRow_, content),
                prefRow(QStringLiteral("Opacité des bandes"),
                        QStringLiteral("Plus élevée = moins lisible de côté mais plus visible de face"),
                        stripeAlphaRow_, content)});
    addDivider();

    fps_ = new SegmentedPicker({{"5\u00a0fps", 5}, {"10\u00a0fps", 10}, {"15\u00a0fps", 15}}, 180, content);
    battery_ = new SegmentedPicker({{"Désactivé", 0}, {"5\u00a0%", 5}, {"10\u00a0%", 10}, {"15\u00a0%", 15}},
                                   260, content);
    auto* calibrationBox = new QWidget(content);
    auto* cl = new QHBoxLayout(calibrationBox);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(10);
    calibrationValue_ = widgets::label(QString(), 13, QFont::Normal, QColor(), calibrationBox);
    calibrationValue_->setObjectName(QStringLiteral("calibrationValue"));
    calibrate_ = new QPushButton(QStringLiteral("Calibrer…"), calibrationBox);
    widgets::makeBordered(calibrate_);
    calibrate_->setFont(widgets::font(11));
    cl->addWidget(calibrationValue_);
    cl->addWidget(calibrate_);
    cl->addStretch(1);
    addSection(
        QStringLiteral("preferences-other"), QStringLiteral("Avancé"),
        {prefRow(QStringLiteral("Fréquence de capture"),
                 QStringLiteral("Fréquence d’analyse de la caméra — réduire pour économiser la batterie"),
                 fps_, content),
         prefRow(QStringLiteral("Pause batterie"),
                 QStringLiteral("Désactive automatiquement le filtre en dessous de ce seuil"), battery_,
                 content),
         prefRow(QStringLiteral("Distance de calibration"), QString(), calibrationBox, content,
                 &calibrationHint_)});
    column->addStretch(1);

    setMinimumSize(480, 420);

    connect(strength_, &QSlider::valueChanged, this,
            [this](int v) { edit([v](auto& s) { s.filterStrength = v; }); });
    connect(sensitivity_, &QSlider::valueChanged, this,
            [this](int v) { edit([v](auto& s) { s.sensitivity = v; }); });
    connect(coefficient_, &QSlider::valueChanged, this, [this](int v) {
        edit([v](auto& s) { s.privacyMatrixCoefficient = float(v * coefficientStep); });
    });
    connect(stripeAlpha_, &QSlider::valueChanged, this,
            [this](int v) { edit([v](auto& s) { s.matrixStripeAlpha = float(v * stripeStep); }); });
    connect(delay_, &SegmentedPicker::valueChosen, this,
            [this](std::int64_t v) { edit([v](auto& s) { s.inattentionDelayMs = v; }); });
    connect(fps_, &SegmentedPicker::valueChosen, this,
            [this](std::int64_t v) { edit([v](auto& s) { s.captureFps = int(v); }); });
    connect(battery_, &SegmentedPicker::valueChosen, this,
            [this](std::int64_t v) { edit([v](auto& s) { s.batteryThresholdPercent = int(v); }); });
    connect(glasses_, &ToggleSwitch::toggleRequested, this,
            [this](bool on) { edit([on](auto& s) { s.glassesCompat = on; }); });
    connect(shortcut_, &ToggleSwitch::toggleRequested, this,
            [this](bool on) { edit([on](auto& s) { s.globalShortcutEnabled = on; }); });
    connect(allScreens_, &ToggleSwitch::toggleRequested, this,
            [this](bool on) { edit([on](auto& s) { s.coverAllScreens = on; }); });
    connect(haptic_, &ToggleSwitch::toggleRequested, this,
            [this](bool on) { edit([on](auto& s) { s.hapticOnAlert = on; }); });
    connect(matrix_, &ToggleSwitch::toggleRequested, this,
            [this](bool on) { edit([on](auto& s) { s.privacyMatrixEnabled = on; }); });
    connect(lock_, &ToggleSwitch::toggleRequested, this,
            [this](bool on) { edit([on](auto& s) { s.lockOnAbsence = on; }); });
    connect(lockDelay_, &SegmentedPicker::valueChosen, this,
            [this](std::int64_t v) { edit([v](auto& s) { s.lockDelayMs = v; }); });
    connect(launchAtLogin_, &ToggleSwitch::toggleRequested, this, &PreferencesView::setLaunchAtLogin);
    connect(calibrate_, &QPushButton::clicked, this, &PreferencesView::openCalibration);

    // A value is delivered before it reads back from the repository: the view keeps its own copy.
    keptForSessionSubscription_ = ctx.settingsRepo.keptForSessionOnly.subscribe([this](bool lost) {
        keptForSessionOnly_ = lost;
        render();
    });
    loginItemErrorSubscription_ = ctx.settingsRepo.loginItemError.subscribe([this](const std::string& error) {
        loginItemRefused_ = !error.empty();
        render();
    });
    if (ctx.shortcutStatus) {
        shortcutStatusSubscription_ = ctx.shortcutStatus->subscribe([this](ShortcutStatus status) {
            shortcutStatus_ = status;
            render();
        });
    }
    render();
}

QString PreferencesView::shortcutProblemText(ShortcutStatus status, const QString& keys) {
    switch (status) {
    case ShortcutStatus::unsupported:
        return QStringLiteral("Indisponible\u00a0: ce bureau n\u2019offre pas de raccourci global");
    case ShortcutStatus::refused:
        return QStringLiteral("Refusé par le bureau\u00a0: autorisez-le dans ses réglages, puis relancez "
                              "Tavrine");
    case ShortcutStatus::taken:
        return QStringLiteral("Indisponible\u00a0: %1 est déjà pris par un autre programme").arg(keys);
    case ShortcutStatus::x11WindowsOnly:
        return QStringLiteral(
            "Seulement dans les fenêtres X11\u00a0: ce bureau n\u2019offre pas de raccourci global");
    case ShortcutStatus::idle:
    case ShortcutStatus::waiting:
    case ShortcutStatus::working:
        break;
    }
    return QString();
}

void PreferencesView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (appeared_) {
        return;
    }
    appeared_ = true;
    // The switch shows the system's real state.
    ctx_.settingsRepo.refreshLaunchAtLogin();
    setDraft(ctx_.settingsRepo.settings.get());
    // Another window (the calibration, the onboarding) may save while this one is open: the draft takes
    // every record the repository publishes, so that the next edit here does not write an older one back.
    settingsSubscription_ = ctx_.settingsRepo.settings.subscribe([this](const FilterSettings& s) {
        if (s != draft_) {
            draft_ = s;
            render();
        }
    });
}

void PreferencesView::setDraft(const FilterSettings& next) {
    if (next == draft_) {
        render();
        return;
    }
    draft_ = next;
    render();
    ctx_.settingsRepo.save(draft_);
}

void PreferencesView::setLaunchAtLogin(bool enabled) {
    // Saving the record applies it to the login item; the switch keeps the requested position even when
    // the system refuses.
    edit([enabled](auto& s) { s.launchAtLogin = enabled; });
}

void PreferencesView::render() {
    const QSignalBlocker b1(strength_), b2(sensitivity_), b3(coefficient_), b4(stripeAlpha_);
    strength_->setValue(draft_.filterStrength);
    strengthValue_->setText(QString::number(draft_.filterStrength));
    sensitivity_->setValue(draft_.sensitivity);
    sensitivityValue_->setText(QString::number(draft_.sensitivity));
    coefficient_->setValue(int(std::lround(draft_.privacyMatrixCoefficient / coefficientStep)));
    coefficientValue_->setText(coefficientText(draft_.privacyMatrixCoefficient));
    stripeAlpha_->setValue(int(std::lround(draft_.matrixStripeAlpha / stripeStep)));
    stripeAlphaValue_->setText(stripeAlphaText(draft_.matrixStripeAlpha));
    // A screen reader says the value as shown ("×2.0", "42 %"), not the slider's step.
    for (const auto& [slider, shown] :
         {std::pair{strength_, strengthValue_}, std::pair{sensitivity_, sensitivityValue_},
          std::pair{coefficient_, coefficientValue_}, std::pair{stripeAlpha_, stripeAlphaValue_}}) {
        slider->setAccessibleDescription(shown->text());
    }
    delay_->setValue(draft_.inattentionDelayMs);
    fps_->setValue(draft_.captureFps);
    battery_->setValue(draft_.batteryThresholdPercent);
    glasses_->setChecked(draft_.glassesCompat);
    launchAtLogin_->setChecked(draft_.launchAtLogin);
    const bool loginRefused = loginItemRefused_;
    launchAtLoginHint_->setText(
        QString::fromUtf8(loginRefused ? launchAtLoginRefusedText : launchAtLoginHintText));
    widgets::setTextColor(launchAtLoginHint_,
                          loginRefused ? AppColors::warning() : AppColors::textSecondary());
    const bool unsaved = keptForSessionOnly_;
    if (unsaved) {
        const QString where = QString::fromStdString(ctx_.defaults.location());
        unsavedLine_->setText(
            where.isEmpty()
                ? QStringLiteral("Impossible d’enregistrer les réglages\u00a0: vos changements valent "
                                 "jusqu’à la fermeture de Tavrine.")
                : QStringLiteral("Impossible d’enregistrer les réglages dans %1\u00a0: vos changements "
                                 "valent jusqu’à la fermeture de Tavrine.")
                      .arg(where));
    }
    unsavedLine_->setVisible(unsaved);
    // A shortcut that cannot work shows off and cannot be switched on; the stored choice stays as it is.
    const bool shortcutDead = shortcutStatus_ == ShortcutStatus::unsupported ||
                              shortcutStatus_ == ShortcutStatus::refused ||
                              shortcutStatus_ == ShortcutStatus::taken;
    shortcut_->setChecked(draft_.globalShortcutEnabled && !shortcutDead);
    shortcut_->setEnabled(!shortcutDead);
    const QString problem = shortcutProblemText(shortcutStatus_, ctx_.tr("⌘⇧C"));
    shortcutHint_->setText(
        problem.isEmpty() ? QStringLiteral("Activer / désactiver le filtre sans ouvrir le menu") : problem);
    widgets::setTextColor(shortcutHint_,
                          problem.isEmpty() ? AppColors::textSecondary() : AppColors::warning());
    allScreens_->setChecked(draft_.coverAllScreens);
    haptic_->setChecked(draft_.hapticOnAlert);
    matrix_->setChecked(draft_.privacyMatrixEnabled);
    lock_->setChecked(draft_.lockOnAbsence);
    lockDelay_->setValue(draft_.lockDelayMs);
    lockDelay_->setEnabled(draft_.lockOnAbsence);
    static_cast<QGraphicsOpacityEffect*>(lockDelay_->graphicsEffect())
        ->setOpacity(draft_.lockOnAbsence ? 1.0 : 0.4);
    for (QWidget* dimmable : {coefficientRow_, stripeAlphaRow_}) {
        dimmable->setEnabled(draft_.privacyMatrixEnabled);
        static_cast<QGraphicsOpacityEffect*>(dimmable->graphicsEffect())
            ->setOpacity(draft_.privacyMatrixEnabled ? 1.0 : 0.4);
    }
    if (draft_.isCalibrated) {
        calibrationValue_->setText(QStringLiteral("%1\u00a0cm").arg(draft_.calibrationDistanceCm));
        widgets::setTextColor(calibrationValue_, AppColors::textSecondary());
        calibrationHint_->setText(QStringLiteral("Distance mesurée lors de la calibration"));
    } else {
        calibrationValue_->setText(QStringLiteral("Non calibré"));
        widgets::setTextColor(calibrationValue_, AppColors::warning());
        calibrationHint_->setText(
            QStringLiteral("Non calibré — les alertes utilisent la distance par défaut (60\u00a0cm)"));
    }
}

void PreferencesView::openCalibration() {
    if (calibrationDialog_) {
        calibrationDialog_->raise();
        calibrationDialog_->activateWindow();
        return;
    }
    calibrationDialog_ = new CalibrationDialog(ctx_, QStringLiteral("Fermer"), this);
    calibrationDialog_->open();
}

} // namespace tavrine
