#include "dialogs/network_adapter_dialog.hpp"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace korvane::ui {

namespace {
constexpr int kColumnInset = 5; // the column is as wide as the list minus this
constexpr int kListWidthChars = 48;
constexpr int kListRows = 8;
constexpr int kNameRole = Qt::UserRole; // the adapter's name; empty on the "all" row
} // namespace

NetworkAdapterDialog::NetworkAdapterDialog(const std::vector<AdapterInfo>& adapters,
                                           const QString& chosen, QWidget* parent)
    : QDialog(parent), list_(new QTreeWidget(this)), chosen_(chosen) {
    setObjectName(QStringLiteral("networkAdapterDialog"));
    setWindowTitle(QStringLiteral("Network Adapter"));

    auto* label = new QLabel(QStringLiteral("&Network Adapter available:"), this);
    label->setObjectName(QStringLiteral("adapterLabel"));
    label->setBuddy(list_);
    list_->setObjectName(QStringLiteral("adapterList"));
    // A list takes no name from its label's buddy: a screen reader needs one.
    list_->setAccessibleName(QStringLiteral("Network Adapter available:"));
    list_->setColumnCount(1);
    list_->setHeaderLabels({QString()});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionsMovable(false);
    list_->setMinimumSize(fontMetrics().horizontalAdvance(QLatin1Char('x')) * kListWidthChars,
                          fontMetrics().height() * kListRows);

    auto* all = new QTreeWidgetItem({QString::fromLatin1(kAllAdaptersText)});
    all->setData(0, kNameRole, QString());
    list_->addTopLevelItem(all);
    QTreeWidgetItem* current = all;
    for (const AdapterInfo& adapter : adapters) {
        const QString name = QString::fromStdString(adapter.name);
        QString text = QString::fromStdString(adapter.description);
        if (text.isEmpty())
            text = name;
        auto* row = new QTreeWidgetItem({text});
        row->setData(0, kNameRole, name);
        row->setToolTip(0, name);
        list_->addTopLevelItem(row);
        if (!chosen.isEmpty() && name == chosen)
            current = row;
    }
    list_->setCurrentItem(current);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &NetworkAdapterDialog::updateOk);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });

    auto* column = new QVBoxLayout(this);
    column->addWidget(label);
    column->addWidget(list_, 1);
    column->addWidget(buttons);
    updateOk();
}

void NetworkAdapterDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    list_->setColumnWidth(0, std::max(0, list_->viewport()->width() - kColumnInset));
}

void NetworkAdapterDialog::updateOk() {
    ok_->setEnabled(!list_->selectedItems().isEmpty());
}

void NetworkAdapterDialog::accept() {
    const auto selected = list_->selectedItems();
    if (selected.isEmpty())
        return;
    chosen_ = selected.first()->data(0, kNameRole).toString();
    QDialog::accept();
}

} // namespace korvane::ui
