#include "dialogs/single_page_dialog.hpp"

#include <QDialogButtonBox>
#include <QVBoxLayout>

namespace korvane::ui {

SinglePageDialog::SinglePageDialog(SettingsPage* page, const QString& objectName, QWidget* parent)
    : QDialog(parent), page_(page) {
    setObjectName(objectName);
    page_->setParent(this);
    setWindowTitle(page_->windowTitle());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* column = new QVBoxLayout(this);
    column->addWidget(page_);
    column->addWidget(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

bool SinglePageDialog::acceptPage() {
    return page_->validatePage();
}

void SinglePageDialog::accept() {
    if (acceptPage())
        QDialog::accept();
}

} // namespace korvane::ui
