#include "ui/panels/OnboardingView.h"

#include "ui/panels/CalibrationView.h"
#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/Symbols.h"
#include "ui/shared/Widgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrine {
namespace {

QLabel* symbolHeader(const QString& name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(Symbols::pixmap(name, AppColors::primary(), 48, parent->devicePixelRatioF()));
    l->setAlignment(Qt::AlignCenter);
    return l;
}

// Five dots, the current page's in the primary colour; a click on a dot goes to its page. With the keyboard
// focus (Tab), a ring shows around the current dot and the arrow keys go to the page before or after.
class PageDots : public QWidget {
  public:
    PageDots(const OnboardingView& view, std::function<void(int)> select, QWidget* parent)
        : QWidget(parent), view_(view), select_(std::move(select)) {
        setFixedSize(OnboardingView::pageCount * 7 + (OnboardingView::pageCount - 1) * 8 + 2 * margin,
                     7 + 2 * margin);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

  protected:
    static constexpr int margin = 3; // room for the focus ring

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < OnboardingView::pageCount; ++i) {
            p.setBrush(view_.dotColor(i));
            p.drawEllipse(QRectF(margin + i * 15, margin, 7, 7));
        }
        if (hasFocus()) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(AppColors::accent(), 1.5));
            p.drawEllipse(QRectF(margin + view_.page() * 15 - 2.25, margin - 2.25, 11.5, 11.5));
        }
    }
    void mousePressEvent(QMouseEvent* e) override {
        const int i = (int(e->position().x()) - margin) / 15;
        if (i >= 0 && i < OnboardingView::pageCount) {
            select_(i);
        }
    }
    void keyPressEvent(QKeyEvent* e) override {
        const int step = e->key() == Qt::Key_Left ? -1 : e->key() == Qt::Key_Right ? 1 : 0;
        if (step == 0) {
            QWidget::keyPressEvent(e);
            return;
        }
        select_(std::clamp(view_.page() + step, 0, OnboardingView::pageCount - 1));
    }

  private:
    const OnboardingView& view_;
    std::function<void(int)> select_;
};

} // namespace

OnboardingPageLayout::OnboardingPageLayout(QWidget* header, const QString& title, const QString& text,
                                           const QString& primaryLabel, std::function<void()> primaryAction,
                                           const QString& secondaryLabel,
                                           std::function<void()> secondaryAction, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 8);
    layout->setSpacing(8);
    layout->addStretch(1);
    header->setParent(this);
    layout->addWidget(header, 0, Qt::AlignHCenter);
    title_ = widgets::label(title, 20, QFont::Bold, AppColors::textPrimary(), this);
    title_->setAlignment(Qt::AlignHCenter);
    title_->setWordWrap(true);
    layout->addWidget(title_);
    text_ = widgets::label(text, 13, QFont::Normal, AppColors::textSecondary(), this);
    text_->setAlignment(Qt::AlignHCenter);
    text_->setWordWrap(true);
    text_->setContentsMargins(28, 0, 28, 0);
    layout->addWidget(text_);
    layout->addSpacing(12);
    primary_ = new QPushButton(primaryLabel, this);
    primary_->setObjectName(QStringLiteral("primary"));
    primary_->setDefault(true);
    widgets::makeProminent(primary_);
    layout->addWidget(primary_, 0, Qt::AlignHCenter);
    connect(primary_, &QPushButton::clicked, this, [primaryAction] { primaryAction(); });
    if (!secondaryLabel.isEmpty()) {
        secondary_ = new QPushButton(secondaryLabel, this);
        secondary_->setObjectName(QStringLiteral("secondary"));
        secondary_->setFlat(true);
        widgets::setTextColor(secondary_, AppColors::textSecondary());
        widgets::showFocusRing(secondary_);
        layout->addWidget(secondary_, 0, Qt::AlignHCenter);
        connect(secondary_, &QPushButton::clicked, this, [secondaryAction] {
            if (secondaryAction) {
                secondaryAction();
            }
        });
    }
    layout->addStretch(1);
}

OnboardingView::OnboardingView(const UiContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("OnboardingView"));
    // Enter on "Plus tard" (or any focused button) clicks it; the main button, the default, handles it
    // itself.
    widgets::clickOnEnter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 20);
    layout->setSpacing(8);
    stack_ = new QStackedWidget(this);
    layout->addWidget(stack_, 1);

    auto next = [this](int k) { return [this, k] { setPage(k + 1); }; };
    const QString skip = ctx.tr("onboarding_skip");

    pages_[0] = new OnboardingPageLayout(
        new AnimatedEyeLogo(ctx.executor, ctx.clock, 88, true, false, AnimatedEyeLogo::Mode::idle),
        ctx.tr("onboarding_camera_title"), ctx.tr("onboarding_camera_body"), QString(),
        [this] { requestCamera(); }, skip, next(0), stack_);
    pages_[1] = new OnboardingPageLayout(
        symbolHeader(QStringLiteral("video-display"), stack_), ctx.tr("onboarding_overlay_title"),
        QStringLiteral(
            "Sous Linux, le filtre Tavrine couvre toutes les applications à la fois, sur chaque écran, "
            "y compris les applications en plein écran."),
        QStringLiteral("Compris"), next(1), QString(), {}, stack_);
    pages_[2] = new OnboardingPageLayout(
        symbolHeader(QStringLiteral("preferences-desktop-notification"), stack_),
        ctx.tr("onboarding_notif_title"), ctx.tr("onboarding_notif_body"), QString(),
        [this] { allowNotifications(); }, skip, next(2), stack_);
    pages_[3] = new OnboardingPageLayout(
        symbolHeader(QStringLiteral("camera-web"), stack_), QStringLiteral("Calibration de distance"),
        QStringLiteral("Pour des alertes précises, calibrez Tavrine à votre distance de travail habituelle. "
                       "Cette étape prend 5\u00a0secondes."),
        QString(), [this] { openCalibration(); }, skip, next(3), stack_);
    pages_[4] = new OnboardingPageLayout(
        symbolHeader(QStringLiteral("system-shutdown"), stack_), QStringLiteral("Lancer au démarrage"),
        QStringLiteral(
            "Tavrine peut se lancer automatiquement à l’ouverture de session pour vous protéger dès le "
            "début."),
        QString(), [this] { enableLogin(); }, skip, [this] { done(); }, stack_);
    for (auto* p : pages_) {
        stack_->addWidget(p);
    }

    dots_ = new PageDots(
        *this, [this](int i) { setPage(i); }, this);
    layout->addWidget(dots_, 0, Qt::AlignHCenter);

    settingsSub_ = ctx.settingsRepo.settings.subscribe([this](const FilterSettings& s) {
        pages_[3]->primaryButton()->setText(
            s.isCalibrated ? QStringLiteral("✓ Calibré (%1\u00a0cm)").arg(s.calibrationDistanceCm)
                           : QStringLiteral("Calibrer maintenant"));
    });
    renderLabels();
    setPage(0);
}

QColor OnboardingView::dotColor(int index) const {
    if (index == page_) {
        return AppColors::primary();
    }
    QColor c = AppColors::textSecondary();
    c.setAlphaF(0.3f);
    return c;
}

void OnboardingView::setPage(int page) {
    if (page < 0 || page >= pageCount) {
        return;
    }
    page_ = page;
    stack_->setCurrentIndex(page);
    dots_->setAccessibleName(QStringLiteral("Page %1 sur %2").arg(page + 1).arg(pageCount));
    dots_->update();
}

void OnboardingView::renderLabels() {
    const QString granted = QStringLiteral("✓ Autorisé");
    pages_[0]->primaryButton()->setText(cameraGranted_ ? granted : ctx_.tr("onboarding_grant"));
    pages_[2]->primaryButton()->setText(notificationsGranted_ ? granted : ctx_.tr("onboarding_grant"));
    pages_[4]->primaryButton()->setText(loginEnabled_ ? QStringLiteral("✓ Activé")
                                                      : QStringLiteral("Activer"));
}

void OnboardingView::requestCamera() {
    ctx_.executor.post([this, alive = QPointer<OnboardingView>(this)] {
        if (!alive) {
            return;
        }
        cameraGranted_ = ctx_.requestCameraAccess ? ctx_.requestCameraAccess() : false;
        renderLabels();
        // Refused, there is no system dialog to ask through: the camera nodes belong to the "video"
        // group, and the page stays, offering the request again and "Plus tard". A later grant (a camera
        // plugged in that the session may open) takes the note back.
        const QString body = ctx_.tr("onboarding_camera_body");
        pages_[0]->textLabel()->setText(
            cameraGranted_ ? body : body + QStringLiteral("\n\n") + QString::fromUtf8(cameraRefusedNote));
        if (cameraGranted_) {
            setPage(1);
            emit cameraAccessGranted();
        }
    });
}

void OnboardingView::allowNotifications() {
    // Nothing to ask the desktop for: the user's agreement is the permission.
    notificationsGranted_ = true;
    renderLabels();
    setPage(3);
}

void OnboardingView::openCalibration() {
    if (calibrationDialog_) {
        calibrationDialog_->raise();
        return;
    }
    calibrationDialog_ = new CalibrationDialog(ctx_, QStringLiteral("Passer"), this);
    // Skipping and finishing both move on to the login page.
    connect(calibrationDialog_, &QDialog::finished, this, [this] { setPage(4); });
    calibrationDialog_->open();
}

void OnboardingView::enableLogin() {
    if (!ctx_.settingsRepo.setLaunchAtLogin(true)) {
        loginEnabled_ = true;
        renderLabels();
    }
    done();
}

void OnboardingView::done() {
    ctx_.defaults.setBool(completedKey, true);
    ctx_.defaults.flush();
    emit finished();
}

} // namespace tavrine
