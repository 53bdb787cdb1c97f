#pragma once

// A text that acts as a web link: link, visited and hover colours, an
// underline while the pointer is over it (by default), the pointing hand,
// the address as its tooltip, and a click that opens the address and says
// why when nothing could.

#include "widgets/link_opener.hpp"

#include <QColor>
#include <QFont>
#include <QLabel>

#include <memory>

namespace korvane::ui {

class LinkLabel : public QLabel {
    Q_OBJECT

  public:
    enum UnderlineMode : int { kUnderlineHover = -1, kUnderlineNever = 0, kUnderlineAlways = 1 };

    // An empty address takes the text; an empty text shows the address.
    explicit LinkLabel(const QString& text, const QString& address = {}, QWidget* parent = nullptr);

    void setAddress(const QString& address);
    const QString& address() const { return address_; }

    void markVisited(bool visited);
    bool isVisited() const { return visited_; }

    void setUnderlineMode(int mode);
    int underlineMode() const { return underlineMode_; }

    // When on (the default) the label keeps its size to its text.
    void setFitToText(bool on);
    void fitToText();

    // The opener clicks go through (the desktop's by default).
    void setOpener(std::shared_ptr<LinkOpener> opener);
    LinkOpenResult openLink(const QString& address);

    bool isHovering() const { return hovering_; }
    // The colour the text is drawn in now.
    QColor currentColor() const;

  Q_SIGNALS:
    // After a click, with the opener's result.
    void linkOpened(korvane::ui::LinkOpenResult result);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void applyColor();
    void showOpenError(LinkOpenResult result);

    QString address_;
    QFont normalFont_;
    QFont underlinedFont_;
    int underlineMode_ = kUnderlineHover;
    bool fitToText_ = true;
    bool hovering_ = false;
    bool visited_ = false;
    std::shared_ptr<LinkOpener> opener_;
};

} // namespace korvane::ui
