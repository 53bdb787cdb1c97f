#pragma once

// Helpers of the dialog tests: answering the message boxes and modal
// dialogs that a test's action brings up, and finding widgets by name.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace korvane::testing {

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

// Runs `action` on the modal dialog of type T once it is in front.
template <class T>
void WhenModal(std::function<void(T*)> action, int timeoutMs = 5000) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, [timer, action, started, timeoutMs] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            dialog != nullptr && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
        } else if (started->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

} // namespace korvane::testing
