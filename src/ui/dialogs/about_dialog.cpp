#include "dialogs/about_dialog.hpp"

#include "skin/skin_library.hpp"
#include "ui_strings.hpp"
#include "widgets/link_label.hpp"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace korvane::ui {

namespace {
constexpr int kIconSize = 32;
}

AboutDialog::AboutDialog(QWidget* parent)
    : AboutDialog(QString::fromUtf8(strings::kMakerAddress), parent) {}

AboutDialog::AboutDialog(const QString& makerAddress, QWidget* parent)
    : QDialog(parent),
      link_(new LinkLabel(QString::fromUtf8(strings::kMakerLinkText), makerAddress, this)) {
    setWindowTitle(QString::fromUtf8(strings::kAboutCaption));
    setObjectName(QStringLiteral("aboutDialog"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(skin::AppIconPixmap(kIconSize, devicePixelRatioF()));
    icon->setFixedSize(kIconSize, kIconSize);

    auto* version = new QLabel(QString::fromUtf8(strings::kAboutVersion), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);

    auto* notice = new QLabel(QString::fromUtf8(strings::kAboutNotice), this);
    notice->setObjectName(QStringLiteral("aboutNotice"));

    link_->setObjectName(QStringLiteral("aboutLink"));
    // No address, no link: a placeholder would lead nowhere.
    link_->setVisible(!makerAddress.isEmpty());

    // Kept for its place in the box; it holds no text.
    auto* extra = new QLabel(this);
    extra->setObjectName(QStringLiteral("aboutExtra"));
    extra->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(18, 16, 18, 14);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(5);
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(notice, 1, 1);
    grid->addWidget(link_, 2, 1, Qt::AlignLeft);
    grid->addWidget(extra, 3, 1);
    grid->addWidget(ok, 0, 2, 4, 1, Qt::AlignTop);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace korvane::ui
