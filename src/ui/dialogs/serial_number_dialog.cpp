#include "dialogs/serial_number_dialog.hpp"

#include "config/config_commands.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace korvane::ui {

SerialNumberDialog::SerialNumberDialog(QWidget* parent) : QDialog(parent), edit_(new QLineEdit(this)) {
    setObjectName(QStringLiteral("serialNumberDialog"));
    setWindowTitle(QStringLiteral("Set Serial Number"));
    auto* label = new QLabel(QStringLiteral("Input &Serial Number:"), this);
    label->setObjectName(QStringLiteral("serialNumberLabel"));
    label->setBuddy(edit_);
    edit_->setObjectName(QStringLiteral("serialNumberEdit"));
    edit_->setMaxLength(static_cast<int>(kSerialNumberTextLimit));
    edit_->setText(QString::fromUtf8(kSerialNumberPreset.data(),
                                     static_cast<qsizetype>(kSerialNumberPreset.size())));
    edit_->selectAll();
    auto* row = new QHBoxLayout(this);
    row->addWidget(label);
    row->addWidget(edit_, 1);
    row->setSizeConstraint(QLayout::SetFixedSize);
}

void SerialNumberDialog::setText(const QString& text) {
    edit_->setText(text.left(static_cast<qsizetype>(kSerialNumberTextLimit)));
    edit_->selectAll();
}

QString SerialNumberDialog::text() const {
    return edit_->text();
}

void SerialNumberDialog::keyPressEvent(QKeyEvent* event) {
    // With no button to be the default, Enter itself is the OK.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace korvane::ui
