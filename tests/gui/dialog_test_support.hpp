#pragma once

// Helpers of the dialog tests: answering the message boxes and modal
// dialogs that a test's action brings up, and finding widgets by name.

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace korvane::testing {

// Keeps the user's settings out of a test: every QSettings() of the process
// reads and writes an ini file under DIR, on Windows too, where the native
// format would be the registry.
inline void IsolateSettings(const QString& dir) {
    QCoreApplication::setOrganizationName(QStringLiteral("KorvaneTest"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

// Looks for message boxes every few milliseconds, records each one's text
// and answers it with the next scripted button (OK when none is left).
class BoxAnswerer : public QObject {
  public:
    explicit BoxAnswerer(QObject* parent = nullptr) : QObject(parent) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

    std::deque<QMessageBox::StandardButton> answers;
    QStringList texts;
    QList<QMessageBox::Icon> icons;
    QList<QMessageBox::StandardButtons> buttons;
    // The window the last box stood over.
    QPointer<QWidget> lastParent;
    // Looks at each box before it is answered.
    std::function<void(QMessageBox*)> inspect;

  private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == seen_ || !box->isVisible())
            return;
        seen_ = box;
        texts.append(box->text());
        icons.append(box->icon());
        buttons.append(box->standardButtons());
        lastParent = box->parentWidget();
        if (inspect)
            inspect(box);
        QMessageBox::StandardButton answer = QMessageBox::Ok;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        if (QAbstractButton* b = box->button(answer))
            b->click();
        else
            box->done(answer);
    }

    QTimer timer_;
    QPointer<QMessageBox> seen_;
};

// Steps that wait for a state and then act, polled every few milliseconds:
// how a test drives dialogs that a synchronous call brings up one after
// another (each step runs inside the modal loop of the one before).
class Script : public QObject {
  public:
    Script() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

    Script& then(std::function<bool()> ready, std::function<void()> act) {
        steps_.push_back({std::move(ready), std::move(act)});
        return *this;
    }
    bool finished() const { return next_ == steps_.size(); }
    std::size_t stepsDone() const { return next_; }

  private:
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
    };
    void poll() {
        if (next_ < steps_.size() && steps_[next_].ready()) {
            const std::size_t step = next_++;
            steps_[step].act();
        }
    }

    QTimer timer_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
};

// The modal dialog of type T in front, if it is showing.
template <class T>
T* InFront() {
    auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
    return w != nullptr && w->isVisible() ? w : nullptr;
}

// What a screen reader says a widget is called.
inline QString AccessibleName(QWidget* w) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
}

// The widgets Tab visits, from the one with the focus once round the window
// (pressed as a person would, each Tab to the widget that has the focus).
inline QList<QWidget*> TabChain(int limit = 64) {
    QList<QWidget*> chain;
    QWidget* first = QApplication::focusWidget();
    for (QWidget* w = first; w != nullptr && chain.size() < limit;) {
        chain << w;
        QTest::keyClick(w, Qt::Key_Tab);
        w = QApplication::focusWidget();
        if (w == first)
            break;
    }
    return chain;
}

// The widgets of `window` that take the focus from Tab and show now: the
// ones a Tab chain has to reach.
inline QList<QWidget*> TabStops(QWidget* window) {
    QList<QWidget*> stops;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus &&
            w->focusProxy() == nullptr && w->isVisible() && w->isEnabled())
            stops << w;
    return stops;
}

// Checks that Tab goes round every control of `window` that can take the
// focus, each once, and that each has a name for a screen reader; returns
// the names in Tab order for the caller's own checks.
inline QStringList CheckTabChainAndNames(QWidget* window, QWidget* start) {
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        qWarning("the window did not become active");
    start->setFocus(Qt::TabFocusReason);
    const QList<QWidget*> chain = TabChain();
    QStringList names;
    for (QWidget* w : chain) {
        const QString name = AccessibleName(w);
        if (name.trimmed().isEmpty())
            qWarning("no accessible name: %s %s", w->metaObject()->className(),
                     qPrintable(w->objectName()));
        names << name;
    }
    QList<QWidget*> sortedChain = chain;
    QList<QWidget*> stops = TabStops(window);
    std::sort(sortedChain.begin(), sortedChain.end());
    std::sort(stops.begin(), stops.end());
    if (sortedChain != stops) {
        for (QWidget* w : stops)
            if (!chain.contains(w))
                qWarning("not reached by Tab: %s %s", w->metaObject()->className(),
                         qPrintable(w->objectName()));
        for (QWidget* w : chain)
            if (!stops.contains(w))
                qWarning("reached by Tab, but no tab stop: %s %s", w->metaObject()->className(),
                         qPrintable(w->objectName()));
        names << QStringLiteral("<chain and tab stops differ>");
    }
    return names;
}

// One mnemonic shown in a window: the '&' letter of a label (its buddy takes
// the focus) or of a button (it takes the focus and is pressed).
struct Mnemonic {
    QChar key;
    QWidget* owner = nullptr;
    QWidget* target = nullptr;
};

inline QList<Mnemonic> VisibleMnemonics(QWidget* window) {
    QList<Mnemonic> found;
    const auto letter = [](const QString& text) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
    };
    for (QLabel* label : window->findChildren<QLabel*>()) {
        const QChar key = letter(label->text());
        if (label->window() == window && label->isVisible() && !key.isNull())
            found.append({key, label, label->buddy()});
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        const QChar key = letter(button->text());
        if (button->window() == window && button->isVisible() && !key.isNull())
            found.append({key, button, button});
    }
    return found;
}

// Checks that the mnemonics shown in `window` differ from one another and
// that each label's and each check box's or radio button's mnemonic puts
// the focus where it belongs (push buttons would run their command: only
// their letters are checked). Returns what went wrong, one line each.
inline QStringList CheckMnemonics(QWidget* window) {
    QStringList problems;
    const QList<Mnemonic> mnemonics = VisibleMnemonics(window);
    QSet<QChar> keys;
    for (const Mnemonic& m : mnemonics) {
        if (keys.contains(m.key))
            problems << QStringLiteral("Alt+%1 used twice").arg(m.key);
        keys.insert(m.key);
    }
    for (const Mnemonic& m : mnemonics) {
        if (qobject_cast<QPushButton*>(m.owner) != nullptr)
            continue;
        if (m.target == nullptr) {
            problems << QStringLiteral("Alt+%1 has no buddy").arg(m.key);
            continue;
        }
        if (!m.target->isEnabled())
            continue;
        window->activateWindow();
        QWidget* away = nullptr;
        for (QWidget* w : TabStops(window))
            if (w != m.target && w != m.target->focusProxy() &&
                qobject_cast<QAbstractButton*>(w) == nullptr) {
                away = w;
                break;
            }
        if (away != nullptr)
            away->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                               : window,
                        m.key.toLatin1(), Qt::AltModifier);
        QWidget* expected = m.target;
        while (expected->focusProxy() != nullptr)
            expected = expected->focusProxy();
        if (QApplication::focusWidget() != expected)
            problems << QStringLiteral("Alt+%1 left the focus on %2, not on %3")
                            .arg(m.key)
                            .arg(QApplication::focusWidget() != nullptr
                                     ? QApplication::focusWidget()->objectName()
                                     : QStringLiteral("nothing"),
                                 expected->objectName());
    }
    return problems;
}

} // namespace korvane::testing
