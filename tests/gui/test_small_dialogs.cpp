// The small dialogs: Set Serial Number (Enter and Escape, no buttons),
// Password Input (masked, with the unit's label), Network Adapter (OK
// only with a row, double click confirms) and About; each one by keyboard
// and screen reader.

#include "bridge/password_prompt_dialog.hpp"
#include "dialog_test_support.hpp"
#include "dialogs/about_dialog.hpp"
#include "dialogs/network_adapter_dialog.hpp"
#include "dialogs/serial_number_dialog.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>

using korvane::ui::NetworkAdapterDialog;
using korvane::ui::PasswordPromptDialog;
using korvane::ui::SerialNumberDialog;

class TestSmallDialogs : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void serialNumberKeys_data();
    void serialNumberKeys();
    void passwordInput();
    void networkAdapterList();
    void networkAdapterDoubleClick();
    void networkAdapterWithoutAdapters();
    void networkAdapterScreenshot();
    void keyboardAndScreenReader_data();
    void keyboardAndScreenReader();
};

void TestSmallDialogs::serialNumberKeys_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    QTest::newRow("Enter keeps the preset")
        << "" << int(Qt::Key_Return) << int(QDialog::Accepted) << "2801795072";
    QTest::newRow("Enter on the keypad")
        << "2801795073" << int(Qt::Key_Enter) << int(QDialog::Accepted) << "2801795073";
    QTest::newRow("at most 18 characters") << "12345678901234567890" << int(Qt::Key_Return)
                                           << int(QDialog::Accepted) << "123456789012345678";
    QTest::newRow("Escape cancels") << "5" << int(Qt::Key_Escape) << int(QDialog::Rejected) << "5";
}

void TestSmallDialogs::serialNumberKeys() {
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(int, result);
    QFETCH(QString, text);

    SerialNumberDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Set Serial Number"));
    QCOMPARE(dialog.findChild<QLabel*>("serialNumberLabel")->text(),
             QString("Input &Serial Number:"));
    QVERIFY(dialog.findChildren<QPushButton*>().isEmpty());
    QCOMPARE(dialog.edit()->text(), QString("2801795072"));

    QTimer::singleShot(0, &dialog, [&] {
        QLineEdit* edit = dialog.edit();
        edit->setFocus();
        if (!typed.isEmpty()) {
            edit->selectAll();
            QTest::keyClicks(edit, typed);
        }
        QTest::keyClick(edit, static_cast<Qt::Key>(key));
    });
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(dialog.text(), text);
}

void TestSmallDialogs::passwordInput() {
    PasswordPromptDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Password Input"));
    QCOMPARE(dialog.passwordEdit()->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.findChild<QLabel*>("passwordPrompt")->text(),
             QString("Korvane Utility &Password:"));

    // OK with what was typed over the preset, and the unit's label shown.
    QTimer::singleShot(0, &dialog, [&dialog] {
        QVERIFY(dialog.findChild<QLabel*>("passwordLabel")->isVisible());
        QCOMPARE(dialog.passwordEdit()->text(), QString("old"));
        QTest::keyClicks(dialog.passwordEdit(), "new");
        QTest::keyClick(dialog.passwordEdit(), Qt::Key_Return);
    });
    auto typed = dialog.ask("MAC:02-19-A7-00-01-23", "old");
    QCOMPARE(typed, std::optional<QString>("new"));
    QCOMPARE(dialog.label(), QString("MAC:02-19-A7-00-01-23"));

    // Cancel gives nothing; the configuration commands show no label.
    QTimer::singleShot(0, &dialog, [&dialog] {
        QVERIFY(!dialog.findChild<QLabel*>("passwordLabel")->isVisible());
        QTest::keyClick(dialog.passwordEdit(), Qt::Key_Escape);
    });
    QCOMPARE(dialog.ask("", "kept"), std::nullopt);
    QCOMPARE(dialog.password(), QString("kept"));
}

namespace {
std::vector<korvane::AdapterInfo> Adapters(const QStringList& descriptions) {
    std::vector<korvane::AdapterInfo> adapters;
    for (const QString& description : descriptions)
        adapters.push_back(
            {"if" + std::to_string(adapters.size()), description.toStdString(), {}, {}});
    return adapters;
}
} // namespace

void TestSmallDialogs::networkAdapterList() {
    NetworkAdapterDialog dialog(Adapters({"Intel Ethernet", "Realtek USB", "Loopback"}));
    QCOMPARE(dialog.windowTitle(), QString("Network Adapter"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTreeWidget* list = dialog.list();
    // "All network adapters" first, then the adapters in their order.
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(list->topLevelItem(0)->text(0), QString("All network adapters"));
    QCOMPARE(list->topLevelItem(2)->text(0), QString("Realtek USB"));
    QCOMPARE(list->headerItem()->text(0), QString());
    QCOMPARE(list->columnWidth(0), list->viewport()->width() - 5);
    // Without a choice, "all" starts selected.
    QVERIFY(list->topLevelItem(0)->isSelected());
    QVERIFY(dialog.okButton()->isEnabled());

    list->clearSelection();
    QVERIFY(!dialog.okButton()->isEnabled());
    dialog.accept();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.chosenAdapter(), QString());

    list->topLevelItem(3)->setSelected(true);
    QVERIFY(dialog.okButton()->isEnabled());
    dialog.okButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenAdapter(), QString("if2"));
}

void TestSmallDialogs::networkAdapterDoubleClick() {
    // The current choice starts selected; a double click confirms another.
    NetworkAdapterDialog dialog(Adapters({"eth0", "eth1"}), QStringLiteral("if1"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTreeWidget* list = dialog.list();
    QVERIFY(list->topLevelItem(2)->isSelected());
    const QRect row = list->visualItemRect(list->topLevelItem(1));
    QVERIFY(row.isValid());
    // A double click arrives after the press that selects the row.
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.chosenAdapter(), QString("if0"));
}

void TestSmallDialogs::networkAdapterWithoutAdapters() {
    // Only "all", which then means none.
    NetworkAdapterDialog dialog({});
    QCOMPARE(dialog.list()->topLevelItemCount(), 1);
    QVERIFY(dialog.okButton()->isEnabled());
}

// KORVANE_SCREENSHOT_DIR names a folder (run under Xvfb for real fonts).
void TestSmallDialogs::networkAdapterScreenshot() {
    const QString folder = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("KORVANE_SCREENSHOT_DIR not set");
    const std::vector<korvane::AdapterInfo> adapters = {
        {"enp3s0", "Intel Corporation I211 Gigabit Network Connection", {}, {}},
        {"enx00e04c680001", "Realtek USB 2.5GbE Family Controller", {}, {}},
        {"wlp4s0", "Intel Wi-Fi 6 AX200", {}, {}},
    };
    NetworkAdapterDialog dialog(adapters, QStringLiteral("enx00e04c680001"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.list()->setFocus();
    QCoreApplication::processEvents(); // let pending layout run before the picture
    QVERIFY(dialog.grab().save(folder + "/network-adapter.png"));
}

void TestSmallDialogs::keyboardAndScreenReader_data() {
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("Password Input")
        << "password" << QStringList({"Korvane Utility Password:", "OK", "Cancel"});
    QTest::newRow("Set Serial Number") << "serial" << QStringList({"Input Serial Number:"});
    QTest::newRow("Network Adapter")
        << "adapter" << QStringList({"Network Adapter available:", "OK", "Cancel"});
    QTest::newRow("About") << "about" << QStringList({"OK"});
}

// Tab goes round every control in order, each named for a screen reader,
// and every mnemonic lands in its field.
void TestSmallDialogs::keyboardAndScreenReader() {
    QFETCH(QString, dialog);
    QFETCH(QStringList, names);
    std::unique_ptr<QDialog> window;
    if (dialog == "password")
        window = std::make_unique<PasswordPromptDialog>();
    else if (dialog == "serial")
        window = std::make_unique<SerialNumberDialog>();
    else if (dialog == "adapter")
        window = std::make_unique<NetworkAdapterDialog>(Adapters({"eth0", "eth1"}));
    else
        window = std::make_unique<korvane::ui::AboutDialog>(QString(), nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QList<QWidget*> stops = korvane::testing::TabStops(window.get());
    QVERIFY(!stops.isEmpty());
    // The first control of the chain: what the dialog gives the focus first.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QWidget* first =
        QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : stops.first();
    QCOMPARE(korvane::testing::CheckTabChainAndNames(window.get(), first), names);
    QCOMPARE(korvane::testing::CheckMnemonics(window.get()), QStringList());
}

QTEST_MAIN(TestSmallDialogs)
#include "test_small_dialogs.moc"
