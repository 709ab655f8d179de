// The few widget classes a window is made of.
#pragma once

#include <QCloseEvent>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <vector>

namespace ui {
class WindowImpl;
}

namespace ui::detail {

// The client area: controls sit on it at their dialog-unit positions; its size is the window's.
class Content final : public QWidget {
 public:
  Content(QSize hint, std::function<void()> resized) : hint_(hint), resized_(std::move(resized)) {}
  void setHint(QSize hint) {
    hint_ = hint;
    updateGeometry();
  }
  QSize sizeHint() const override { return hint_; }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    if (resized_) resized_();
  }

 private:
  QSize hint_;
  std::function<void()> resized_;
};

// An application frame's client area.
class FrameArea final : public QMdiArea {
 public:
  explicit FrameArea(QSize hint) : hint_(hint) {}
  void setHint(QSize hint) {
    hint_ = hint;
    updateGeometry();
  }
  QSize sizeHint() const override { return hint_; }

 private:
  QSize hint_;
};

// The window itself (top-level, or inside a frame's sub-window). The close box and activation go to
// the window's event queue; only the runtime really closes it.
class Shell final : public QMainWindow {
 public:
  Shell(std::function<void()> closeBox, std::function<void()> activated)
      : closeBox_(std::move(closeBox)), activated_(std::move(activated)) {}
  void detach() {
    closeBox_ = nullptr;
    activated_ = nullptr;
  }

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    if (closeBox_) closeBox_();
  }
  void changeEvent(QEvent* e) override {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow() && activated_) activated_();
  }

 private:
  std::function<void()> closeBox_, activated_;
};

class SubWindow final : public QMdiSubWindow {
 public:
  explicit SubWindow(std::function<void()> closeBox) : closeBox_(std::move(closeBox)) {}
  void detach() { closeBox_ = nullptr; }

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    if (closeBox_) closeBox_();
  }

 private:
  std::function<void()> closeBox_;
};

// A display text: a text longer than the control is cut at its end with an ellipsis, never to
// nothing, and the whole text is its tooltip.
class DisplayLabel final : public QLabel {
 public:
  explicit DisplayLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }
  void show(const QString& text) {
    setText(text);
    refreshTip();
  }
  bool elided() const { return fontMetrics().horizontalAdvance(text()) > contentsRect().width(); }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QLabel::resizeEvent(e);
    refreshTip();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QRect r = contentsRect();
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(r, static_cast<int>(alignment()) | Qt::TextSingleLine,
               fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
  }

 private:
  void refreshTip() { setToolTip(elided() ? text() : QString()); }
};

// A status bar zone. It shows its text whole whenever the bar gives it the room (ZoneBar); given less,
// it cuts the text at its end with an ellipsis, and the whole text is its tooltip.
class ZoneLabel final : public QLabel {
 public:
  // `width`: what the definition gives the zone, in pixels; 0 for a zone that takes what is left.
  explicit ZoneLabel(int width) : width_(width) { setTextFormat(Qt::PlainText); }
  int definedWidth() const { return width_; }
  // The width that shows the text whole: the text, its margins and its frame, as the label lays it out.
  int neededWidth() const { return QLabel::sizeHint().width(); }
  bool elided() const { return width() < neededWidth(); }
  void refreshTip() { setToolTip(elided() ? text() : QString()); }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  int width_;
};

// The zones of a status bar side by side, each at least as wide as its definition says. A zone whose
// text needs more takes room that the others do not use; only a bar too narrow for every text cuts
// texts, the longest first, so that the short ones stay whole.
class ZoneBar final : public QWidget {
 public:
  static constexpr int kSpacing = 2;
  void add(ZoneLabel* zone);
  void setText(std::size_t zone, const QString& text);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void relayout();
  std::vector<ZoneLabel*> zones_;
  bool relayoutPending_ = false;
};

// Runs a function for the events of one object it watches; returning true swallows the event.
class Filter final : public QObject {
 public:
  Filter(QObject* parent, std::function<bool(QObject*, QEvent*)> f) : QObject(parent), f_(std::move(f)) {}
  bool eventFilter(QObject* watched, QEvent* e) override { return f_(watched, e); }

 private:
  std::function<bool(QObject*, QEvent*)> f_;
};

}  // namespace ui::detail
