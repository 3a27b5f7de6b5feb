#include "ui/panels/AboutView.h"

#include "ui/shared/AppColors.h"
#include "ui/shared/EyeLogo.h"
#include "ui/shared/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tavrine {
namespace {

QWidget* aboutSection(const QString& title, const QString& text, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(widgets::label(title, 13, QFont::DemiBold, AppColors::textPrimary(), box));
    auto* body = widgets::label(text, 12, QFont::Normal, AppColors::textSecondary(), box);
    body->setWordWrap(true);
    // Wrap to the width the scroll area gives, never widen it.
    body->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(body);
    return box;
}

} // namespace

QString AboutView::appVersion() {
#ifdef TAVRINE_VERSION
    const QString v = QStringLiteral(TAVRINE_VERSION);
    if (!v.isEmpty()) {
        return v;
    }
#endif
    return QStringLiteral("1.0");
}

QString AboutView::versionLine(const UiContext& ctx, const QString& version) {
    QString format = ctx.tr("about_version");
    // A missing translation shows the key as it is, without a placeholder to fill.
    return format.contains(QLatin1String("%1")) ? format.arg(version) : format;
}

AboutView::AboutView(const UiContext& ctx, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AboutView"));
    setFixedSize(400, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 12);
    layout->setSpacing(8);

    auto* logo = new EyeLogo(true, false, 64, 1.0, 1.0, this);
    layout->addWidget(logo, 0, Qt::AlignHCenter);
    auto* name = widgets::label(ctx.tr("Tavrine"), 20, QFont::Bold, AppColors::accent(), this);
    name->setAlignment(Qt::AlignHCenter);
    layout->addWidget(name);
    auto* version =
        widgets::label(versionLine(ctx, appVersion()), 10, QFont::Normal, AppColors::textSecondary(), this);
    version->setObjectName(QStringLiteral("versionLine"));
    version->setAlignment(Qt::AlignHCenter);
    layout->addWidget(version);
    layout->addWidget(widgets::divider(this));

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The sections fit the page (their fonts are sized in pixels): the area only takes the wheel, and the
    // Tab key goes from "Fermer" straight to the links, which show their focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* sections = new QWidget(scroll);
    auto* sl = new QVBoxLayout(sections);
    sl->setContentsMargins(0, 4, 0, 4);
    sl->setSpacing(14);
    sl->addWidget(aboutSection(ctx.tr("about_developer_title"), ctx.tr("about_developer_body"), sections));
    sl->addWidget(aboutSection(ctx.tr("about_project_title"), ctx.tr("about_project_body"), sections));
    sl->addWidget(aboutSection(ctx.tr("about_privacy_title"), ctx.tr("about_privacy_body"), sections));
    sl->addStretch(1);
    scroll->setWidget(sections);
    layout->addWidget(scroll, 1);
    layout->addWidget(widgets::divider(this));

    layout->addLayout(widgets::websiteFooter(this));

    auto* toolbar = new QHBoxLayout;
    toolbar->addStretch(1);
    close_ = new QPushButton(QStringLiteral("Fermer"), this);
    widgets::makeBordered(close_);
    close_->setDefault(true);
    widgets::clickOnEnter(this, close_);
    toolbar->addWidget(close_);
    layout->addLayout(toolbar);
    connect(close_, &QPushButton::clicked, this, &AboutView::dismissed);
}

} // namespace tavrine
