#include "dialogs/advanced_page.hpp"

#include "bridge/message_box.hpp"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>

namespace korvane::ui {

namespace {

struct RowText {
    ServiceKind kind;
    const char* check;
    const char* label;
    const char* name;
};

// In the order the page shows them.
constexpr std::array<RowText, 4> kRows = {{
    {ServiceKind::Http, "&Enable HTTP Function", "&HTTP port number (1-65534):", "http"},
    {ServiceKind::Https, "Enable HTTP&S Function", "HTTPS p&ort number (1-65534):", "https"},
    {ServiceKind::Telnet, "Enable &Telnet Function", "Telnet &port number (1-65534):", "telnet"},
    {ServiceKind::Ssh, "Enable SSH &Function", "SSH po&rt number (1-65534):", "ssh"},
}};

constexpr int kPortEditWidthChars = 7;

} // namespace

AdvancedPage::AdvancedPage(QWidget* parent) : SettingsPage(parent) {
    setObjectName(QStringLiteral("advancedPage"));
    setWindowTitle(QStringLiteral("Advanced"));

    auto* group = new QGroupBox(QStringLiteral("Management Protocol"), this);
    group->setObjectName(QStringLiteral("managementProtocolGroup"));
    auto* grid = new QGridLayout(group);
    grid->setColumnStretch(2, 1);
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    const int editWidth = fontMetrics().horizontalAdvance(QLatin1Char('0')) * kPortEditWidthChars;
    // The port lines sit under their check box's text.
    const int labelIndent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                            style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    int line = 0;
    for (const RowText& text : kRows) {
        Row& r = rows_[static_cast<std::size_t>(text.kind)];
        const QString name = QString::fromUtf8(text.name);
        r.check = new QCheckBox(QString::fromUtf8(text.check), group);
        r.check->setObjectName(name + QStringLiteral("Check"));
        r.label = new QLabel(QString::fromUtf8(text.label), group);
        r.label->setObjectName(name + QStringLiteral("PortLabel"));
        r.label->setIndent(labelIndent);
        r.edit = new QLineEdit(group);
        r.edit->setObjectName(name + QStringLiteral("PortEdit"));
        r.edit->setValidator(digits);
        r.edit->setFixedWidth(editWidth);
        r.label->setBuddy(r.edit);
        grid->addWidget(r.check, line, 0, 1, 3);
        grid->addWidget(r.label, line + 1, 0);
        grid->addWidget(r.edit, line + 1, 1);
        line += 2;
        const ServiceKind kind = text.kind;
        connect(r.check, &QCheckBox::clicked, this,
                [this, kind](bool on) { boxClicked(kind, on); });
        connect(r.edit, &QLineEdit::textChanged, this, [this, kind] { editChanged(kind); });
    }
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
    column->addStretch(1);
}

void AdvancedPage::setModel(const AdvancedPageModel& model) {
    model_ = model;
    initialise();
}

void AdvancedPage::initialise() {
    // A Telnet port of 0 means the service has no port to offer.
    const bool telnetWithoutPort = model_.telnet.port == 0;
    if (telnetWithoutPort) {
        model_.telnet.enabled = false;
        model_.telnet.port = DefaultPort(ServiceKind::Telnet);
    }
    for (const ServiceKind kind : kServices) {
        const Row& r = row(kind);
        const ServiceSetting& s = model_.service(kind);
        r.check->setEnabled(model_.serviceEditable(kind));
        r.check->setChecked(s.enabled);
        r.edit->setEnabled(s.enabled);
        r.label->setEnabled(s.enabled);
        setPortText(kind, s.port);
    }
}

void AdvancedPage::setPortText(ServiceKind kind, int port) {
    settingText_ = true;
    row(kind).edit->setText(QString::number(port));
    settingText_ = false;
}

void AdvancedPage::boxClicked(ServiceKind kind, bool on) {
    const int before = model_.service(kind).port;
    model_.setEnabled(kind, on);
    if (model_.service(kind).port != before)
        setPortText(kind, model_.service(kind).port);
    row(kind).edit->setEnabled(on);
    row(kind).label->setEnabled(on);
}

void AdvancedPage::editChanged(ServiceKind kind) {
    if (settingText_)
        return;
    const QString text = row(kind).edit->text();
    model_.setPortText(kind, text.toStdString());
    // An emptied edit gets its default back at once.
    if (text.isEmpty())
        setPortText(kind, model_.service(kind).port);
}

bool AdvancedPage::validatePage() {
    if (const auto failure = AdvancedPageTest(model_)) {
        ShowMessageBox(this, failure->message);
        return false;
    }
    return true;
}

} // namespace korvane::ui
