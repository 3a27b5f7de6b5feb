#include "ui/panels/CalibrationView.h"

#include "ui/shared/AnimatedEyeLogo.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/Symbols.h"
#include "ui/shared/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrine {
namespace {

using Kind = CalibrationSession::Phase::Kind;

QLabel* symbolLabel(const QString& name, const QColor& color, int size, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(Symbols::pixmap(name, color, size, parent->devicePixelRatioF()));
    l->setAlignment(Qt::AlignCenter);
    return l;
}

QLabel* wrapped(const QString& text, int px, QColor color, QWidget* parent) {
    auto* l = widgets::label(text, px, QFont::Normal, color, parent);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignHCenter);
    return l;
}

} // namespace

CalibrationView::CalibrationView(const UiContext& ctx, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), ctx_(ctx), session_(ctx.makeCalibrationSession()), onDone_(std::move(onDone)) {
    setObjectName(QStringLiteral("CalibrationView"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);
    layout->setContentsMargins(20, 8, 20, 14);

    logo_ = new AnimatedEyeLogo(ctx.executor, ctx.clock, 56, true, false, AnimatedEyeLogo::Mode::idle, this);
    layout->addWidget(logo_, 0, Qt::AlignHCenter);
    auto* title = widgets::label(QStringLiteral("Calibration de distance"), 17, QFont::DemiBold,
                                 AppColors::textPrimary(), this);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    layout->addWidget(wrapped(
        QStringLiteral("Tavrine va mesurer votre distance habituelle à l’écran pour adapter ses alertes."),
        12, AppColors::textSecondary(), this));

    pages_ = new QStackedWidget(this);
    pages_->setMinimumHeight(150);

    // idle: the instruction card
    auto* idle = new QWidget(pages_);
    auto* idleLayout = new QHBoxLayout(idle);
    idleLayout->setContentsMargins(12, 12, 12, 12);
    idleLayout->setSpacing(12);
    idleLayout->addWidget(symbolLabel(QStringLiteral("avatar-default"), AppColors::primary(), 28, idle), 0,
                          Qt::AlignTop);
    auto* instruction =
        widgets::label(QStringLiteral("Installez-vous à votre distance de travail habituelle, "
                                      "regardez droit vers la caméra et appuyez sur Démarrer."),
                       13, QFont::Normal, AppColors::textPrimary(), idle);
    instruction->setWordWrap(true);
    idleLayout->addWidget(instruction, 1);
    idle->setAutoFillBackground(true);
    QPalette ip = idle->palette();
    ip.setColor(QPalette::Window, AppColors::surface());
    idle->setPalette(ip);
    auto* idlePage = new QWidget(pages_);
    auto* idlePageLayout = new QVBoxLayout(idlePage);
    idlePageLayout->addStretch(1);
    idlePageLayout->addWidget(idle);
    idlePageLayout->addStretch(1);
    pages_->addWidget(idlePage);

    // counting
    auto* counting = new QWidget(pages_);
    auto* countingLayout = new QVBoxLayout(counting);
    countdown_ = widgets::label(QString(), 56, QFont::Bold, AppColors::accent(), counting);
    countdown_->setObjectName(QStringLiteral("countdown"));
    countdown_->setAlignment(Qt::AlignHCenter);
    countingLayout->addStretch(1);
    countingLayout->addWidget(countdown_);
    countingLayout->addWidget(
        wrapped(QStringLiteral("Restez immobile…"), 13, AppColors::textSecondary(), counting));
    countingLayout->addStretch(1);
    pages_->addWidget(counting);

    // measuring
    auto* measuring = new QWidget(pages_);
    auto* measuringLayout = new QVBoxLayout(measuring);
    auto* busy = new QProgressBar(measuring);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(150, 9);
    measuringLayout->addStretch(1);
    measuringLayout->addWidget(busy, 0, Qt::AlignHCenter);
    measuringLayout->addWidget(
        wrapped(QStringLiteral("3\u00a0secondes"), 13, AppColors::textSecondary(), measuring));
    measuringLayout->addStretch(1);
    pages_->addWidget(measuring);

    // done
    auto* done = new QWidget(pages_);
    auto* doneLayout = new QVBoxLayout(done);
    doneLayout->setSpacing(6);
    doneLayout->addWidget(symbolLabel(QStringLiteral("emblem-ok"), AppColors::success(), 48, done));
    result_ = widgets::label(QString(), 14, QFont::Normal, AppColors::textPrimary(), done);
    result_->setObjectName(QStringLiteral("result"));
    result_->setTextFormat(Qt::RichText);
    result_->setAlignment(Qt::AlignHCenter);
    doneLayout->addWidget(result_);
    doneLayout->addWidget(
        wrapped(QStringLiteral("Vous pouvez ajuster cette valeur si elle vous semble incorrecte."), 12,
                AppColors::textSecondary(), done));
    auto* adjuster = new QHBoxLayout;
    adjuster->addStretch(1);
    minus_ = new QPushButton(Symbols::icon(QStringLiteral("list-remove"), AppColors::primary(), 20),
                             QString(), done);
    plus_ =
        new QPushButton(Symbols::icon(QStringLiteral("list-add"), AppColors::primary(), 20), QString(), done);
    minus_->setObjectName(QStringLiteral("minus"));
    plus_->setObjectName(QStringLiteral("plus"));
    minus_->setAccessibleName(QStringLiteral("\u22125\u00a0cm"));
    plus_->setAccessibleName(QStringLiteral("+5\u00a0cm"));
    for (auto* b : {minus_, plus_}) {
        b->setFlat(true);
        widgets::showFocusRing(b);
        b->setIconSize(QSize(20, 20));
    }
    distanceField_ = widgets::label(QString(), 18, QFont::DemiBold, AppColors::textPrimary(), done);
    distanceField_->setObjectName(QStringLiteral("distanceField"));
    distanceField_->setFixedWidth(90);
    distanceField_->setAlignment(Qt::AlignCenter);
    adjuster->addWidget(minus_);
    adjuster->addWidget(distanceField_);
    adjuster->addWidget(plus_);
    adjuster->addStretch(1);
    doneLayout->addLayout(adjuster);
    pages_->addWidget(done);

    // failed
    auto* failed = new QWidget(pages_);
    auto* failedLayout = new QVBoxLayout(failed);
    failedLayout->addStretch(1);
    failedLayout->addWidget(symbolLabel(QStringLiteral("dialog-warning"), AppColors::warning(), 40, failed));
    auto* failedTitle = widgets::label(QStringLiteral("Calibration échouée"), 15, QFont::DemiBold,
                                       AppColors::textPrimary(), failed);
    failedTitle->setAlignment(Qt::AlignHCenter);
    failedLayout->addWidget(failedTitle);
    failure_ = wrapped(QString(), 12, AppColors::textSecondary(), failed);
    failure_->setObjectName(QStringLiteral("failure"));
    // The stacked pages are laid out from their size hints, which know nothing of the wrapped width: room
    // for three lines keeps every message whole.
    failure_->setMinimumHeight(3 * failure_->fontMetrics().lineSpacing());
    failedLayout->addWidget(failure_);
    failedLayout->addStretch(1);
    pages_->addWidget(failed);

    layout->addWidget(pages_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    secondary_ = new QPushButton(this);
    widgets::makeBordered(secondary_);
    primary_ = new QPushButton(this);
    primary_->setDefault(true);
    widgets::makeProminent(primary_);
    buttons->addWidget(secondary_);
    buttons->addWidget(primary_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(minus_, &QPushButton::clicked, this, [this] { adjust(-stepCm); });
    connect(plus_, &QPushButton::clicked, this, [this] { adjust(stepCm); });
    connect(primary_, &QPushButton::clicked, this, &CalibrationView::onPrimary);
    connect(secondary_, &QPushButton::clicked, this, &CalibrationView::onSecondary);

    phaseSub_ = session_->phase.subscribe([this](const CalibrationSession::Phase& p) { showPhase(p); });
}

CalibrationView::~CalibrationView() {
    phaseSub_.cancel();
    // Leave nothing running for a view that is gone (the analyzer's sample callback included).
    if (phase_.kind == Kind::counting || phase_.kind == Kind::measuring) {
        session_->cancel();
    }
}

bool CalibrationView::isMeasuring() const {
    return phase_.kind == Kind::counting || phase_.kind == Kind::measuring;
}

int CalibrationView::currentDistance() const {
    return adjustedDistance_ != 0 ? adjustedDistance_ : phase_.distanceCm;
}

void CalibrationView::adjust(int deltaCm) {
    const int d = currentDistance();
    adjustedDistance_ =
        deltaCm < 0 ? std::max(d + deltaCm, minDistanceCm) : std::min(d + deltaCm, maxDistanceCm);
    distanceField_->setText(distanceText(currentDistance()));
}

QString CalibrationView::distanceText(int cm) {
    return QStringLiteral("%1\u00a0cm").arg(cm);
}

void CalibrationView::showPhase(const CalibrationSession::Phase& p) {
    const bool wasMeasuring = isMeasuring();
    // A new result starts the adjuster from the measured value.
    if (p.kind == Kind::done && (phase_.kind != Kind::done || phase_.distanceCm != p.distanceCm)) {
        adjustedDistance_ = 0;
    }
    phase_ = p;
    secondary_->setVisible(false);
    switch (p.kind) {
    case Kind::idle:
        pages_->setCurrentIndex(0);
        primary_->setText(QStringLiteral("Démarrer"));
        break;
    case Kind::counting:
        pages_->setCurrentIndex(1);
        countdown_->setText(QString::number(p.remaining));
        primary_->setText(QStringLiteral("Annuler"));
        break;
    case Kind::measuring:
        pages_->setCurrentIndex(2);
        primary_->setText(QStringLiteral("Annuler"));
        break;
    case Kind::done:
        pages_->setCurrentIndex(3);
        result_->setText(QStringLiteral("Distance estimée\u00a0: <b>%1</b>").arg(distanceText(p.distanceCm)));
        distanceField_->setText(distanceText(currentDistance()));
        secondary_->setText(QStringLiteral("Recommencer"));
        secondary_->setVisible(true);
        primary_->setText(QStringLiteral("Valider"));
        break;
    case Kind::failed:
        pages_->setCurrentIndex(4);
        failure_->setText(QString::fromStdString(p.message));
        primary_->setText(QStringLiteral("Réessayer"));
        break;
    }
    // The eye pulses while measuring and blinks otherwise; showing it again restarts it in its new mode.
    if (wasMeasuring != isMeasuring()) {
        logo_->setMode(isMeasuring() ? AnimatedEyeLogo::Mode::calibrating : AnimatedEyeLogo::Mode::idle);
        if (logo_->isVisible()) {
            logo_->hide();
            logo_->show();
        }
    }
}

void CalibrationView::onPrimary() {
    switch (phase_.kind) {
    case Kind::idle:
        session_->start();
        break;
    case Kind::counting:
    case Kind::measuring:
    case Kind::failed:
        session_->cancel();
        break;
    case Kind::done: {
        const int d = currentDistance();
        session_->accept(d);
        if (onDone_) {
            onDone_();
        }
        break;
    }
    }
}

void CalibrationView::onSecondary() {
    if (phase_.kind == Kind::done) {
        session_->cancel();
    }
}

CalibrationDialog::CalibrationDialog(const UiContext& ctx, const QString& closeLabel, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("CalibrationDialog"));
    setWindowTitle(QStringLiteral("Calibration de distance"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(10, 8, 10, 0);
    close_ = new QPushButton(closeLabel, this);
    widgets::makeBordered(close_);
    close_->setObjectName(QStringLiteral("closeDialog"));
    toolbar->addWidget(close_);
    toolbar->addStretch(1);
    layout->addLayout(toolbar);
    view_ = new CalibrationView(
        ctx, [this] { accept(); }, this);
    layout->addWidget(view_);
    setFixedSize(fixedSize);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
}

void CalibrationDialog::showEvent(QShowEvent* event) {
    // Centred on the window it opened from, inside it when that window is large enough, and inside that
    // window's screen whatever part of the window is off it.
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
        // move() places the frame; the centres compare the windows' contents.
        const QPoint frameOffset = geometry().topLeft() - frameGeometry().topLeft();
        const QRect frame(owner->geometry().center() - rect().center() - frameOffset, frameGeometry().size());
        const QScreen* screen = owner->screen();
        move(screen ? widgets::keptInside(screen->availableGeometry(), frame) : frame.topLeft());
    }
    QDialog::showEvent(event);
}

} // namespace tavrine
