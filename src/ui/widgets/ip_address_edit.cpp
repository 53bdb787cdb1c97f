#include "widgets/ip_address_edit.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyleOptionFrame>

#include <climits>
#include <cstdlib>

namespace korvane::ui {

namespace {

constexpr int kFields = 4;
constexpr int kMaxOctet = 255;
constexpr int kDigitsPerField = 3;
constexpr int kFieldPadding = 4; // room beside the three digits of a field

int octetOf(std::uint32_t address, int index) {
    return static_cast<int>((address >> (8 * (kFields - 1 - index))) & 0xFF);
}

// A field as a screen reader names it: "Gateway, octet 1 of 4".
QString OctetName(const QString& control, int index) {
    const QString octet = QStringLiteral("octet %1 of 4").arg(index + 1);
    return control.isEmpty() ? QStringLiteral("Octet %1 of 4").arg(index + 1)
                             : control + QStringLiteral(", ") + octet;
}

} // namespace

namespace {

// A screen reader meets the control as one group named like its label,
// holding four edits named by their place in the address.
QAccessibleInterface* AccessibleIpAddressEdit(const QString& key, QObject* object) {
    if (key == QLatin1String(IpAddressEdit::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    static const bool factoryInstalled =
        (QAccessible::installFactory(AccessibleIpAddressEdit), true);
    Q_UNUSED(factoryInstalled);
    // The control takes the focus for its first field (the focus proxy set
    // below), so that a label's mnemonic lands there; Tab skips the control
    // itself and stops at that field.
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    auto* row = new QHBoxLayout(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    row->setContentsMargins(frame + 1, frame, frame + 1, frame);
    row->setSpacing(0);

    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    const int fieldWidth = fontMetrics().horizontalAdvance(QStringLiteral("000")) + kFieldPadding;
    for (int i = 0; i < kFields; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("octet%1").arg(i));
        edit->setAccessibleName(OctetName(QString(), i));
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(kDigitsPerField);
        edit->setValidator(validator);
        edit->setFixedWidth(fieldWidth);
        edit->setAttribute(Qt::WA_MacShowFocusRect, false);
        // Tab leaves the control; the other fields are reached by typing,
        // clicking and the arrows.
        edit->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] {
            if (!settingText_)
                Q_EMIT addressChanged();
        });
        connect(edit, &QLineEdit::textEdited, this, [this, i] { fieldEdited(i); });
        fields_[static_cast<std::size_t>(i)] = edit;
        row->addWidget(edit);
        if (i + 1 < kFields) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setAttribute(Qt::WA_TransparentForMouseEvents);
            row->addWidget(dot);
        }
    }
    row->addStretch(1);
    setFocusProxy(fields_[0]);

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const bool inside = indexOf(now) >= 0;
        if (inside || indexOf(old) >= 0)
            update(); // the frame shows whether a field has the focus
        if (inside && indexOf(old) < 0)
            Q_EMIT focusEntered();
    });
}

void IpAddressEdit::setAccessibleLabel(const QString& name) {
    setAccessibleName(name);
    for (int i = 0; i < kFields; ++i)
        fields_[static_cast<std::size_t>(i)]->setAccessibleName(OctetName(name, i));
}

std::uint32_t IpAddressEdit::address() const {
    std::uint32_t address = 0;
    for (const QLineEdit* edit : fields_)
        address = (address << 8) | static_cast<std::uint32_t>(edit->text().toInt() & 0xFF);
    return address;
}

void IpAddressEdit::setAddress(std::uint32_t address) {
    settingText_ = true;
    for (int i = 0; i < kFields; ++i)
        fields_[static_cast<std::size_t>(i)]->setText(QString::number(octetOf(address, i)));
    settingText_ = false;
    Q_EMIT addressChanged();
}

void IpAddressEdit::clear() {
    settingText_ = true;
    for (QLineEdit* edit : fields_)
        edit->clear();
    settingText_ = false;
    Q_EMIT addressChanged();
}

bool IpAddressEdit::isBlank() const {
    for (const QLineEdit* edit : fields_)
        if (!edit->text().isEmpty())
            return false;
    return true;
}

QString IpAddressEdit::text() const {
    QStringList octets;
    for (const QLineEdit* edit : fields_)
        octets.append(QString::number(edit->text().toInt()));
    return octets.join(QLatin1Char('.'));
}

QSize IpAddressEdit::sizeHint() const {
    QSize size = layout()->sizeHint();
    const int lineHeight = QLineEdit().sizeHint().height();
    size.setHeight(std::max(size.height(), lineHeight));
    return size;
}

int IpAddressEdit::indexOf(const QObject* object) const {
    for (int i = 0; i < kFields; ++i)
        if (fields_[static_cast<std::size_t>(i)] == object)
            return i;
    return -1;
}

void IpAddressEdit::fieldEdited(int index) {
    QLineEdit* edit = fields_[static_cast<std::size_t>(index)];
    if (edit->text().toInt() > kMaxOctet) {
        edit->setText(QString::number(kMaxOctet));
        edit->selectAll();
        return;
    }
    if (edit->text().size() == kDigitsPerField && edit->cursorPosition() == kDigitsPerField &&
        index + 1 < kFields)
        moveTo(index + 1, true, false);
}

void IpAddressEdit::moveTo(int index, bool selectAll, bool atEnd) {
    QLineEdit* edit = fields_[static_cast<std::size_t>(index)];
    edit->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        edit->selectAll();
    else
        edit->setCursorPosition(atEnd ? static_cast<int>(edit->text().size()) : 0);
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = indexOf(watched);
    if (index < 0 || event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* edit = fields_[static_cast<std::size_t>(index)];
    const bool atStart = edit->cursorPosition() == 0 && !edit->hasSelectedText();
    const bool atEnd = edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText();

    switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        // A separator closes a field that holds something and opens the next.
        if (!edit->text().isEmpty() && !edit->hasSelectedText() && index + 1 < kFields)
            moveTo(index + 1, true, false);
        return true;
    case Qt::Key_Backspace:
        if (atStart && index > 0) {
            moveTo(index - 1, false, true);
            return true;
        }
        break;
    case Qt::Key_Left:
        if (atStart && index > 0 && key->modifiers() == Qt::NoModifier) {
            moveTo(index - 1, false, true);
            return true;
        }
        break;
    case Qt::Key_Right:
        if (atEnd && index + 1 < kFields && key->modifiers() == Qt::NoModifier) {
            moveTo(index + 1, false, false);
            return true;
        }
        break;
    case Qt::Key_Tab:
        // Leave from the last field, so the focus chain goes past the control.
        if (index + 1 < kFields)
            fields_[kFields - 1]->setFocus(Qt::TabFocusReason);
        break;
    case Qt::Key_Backtab:
        if (index > 0)
            fields_[0]->setFocus(Qt::BacktabFocusReason);
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

void IpAddressEdit::paintEvent(QPaintEvent*) {
    // One sunken edit frame around the four fields, drawn as the style draws
    // a line edit's, so the control sits among ordinary edits.
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (indexOf(QApplication::focusWidget()) >= 0)
        option.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}

void IpAddressEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        update();
    QFrame::changeEvent(event);
}

void IpAddressEdit::mousePressEvent(QMouseEvent* event) {
    // A click between fields goes to the nearest one.
    int nearest = 0;
    int best = INT_MAX;
    for (int i = 0; i < kFields; ++i) {
        const int distance =
            std::abs(fields_[static_cast<std::size_t>(i)]->geometry().center().x() -
                     event->position().toPoint().x());
        if (distance < best) {
            best = distance;
            nearest = i;
        }
    }
    moveTo(nearest, false, true);
    QFrame::mousePressEvent(event);
}

} // namespace korvane::ui
