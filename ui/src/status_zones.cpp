// The zones of a window's status bar: how they share the bar, and how a zone draws a text it has no
// room for.
#include <QPainter>
#include <algorithm>
#include <numeric>

#include "widgets.h"

namespace ui::detail {

void ZoneLabel::paintEvent(QPaintEvent* e) {
  if (!elided()) return QLabel::paintEvent(e);
  QPainter p(this);
  drawFrame(&p);
  // The text's place as the label would lay it out: inside the margin and, in a frame, half an "x" in.
  int inset = margin() + std::max(0, indent());
  if (indent() < 0 && frameWidth() > 0)
    inset = margin() + fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
  const QRect r = contentsRect().adjusted(inset, margin(), -inset, -margin());
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  p.drawText(r, static_cast<int>(alignment()) | Qt::TextSingleLine,
             fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
}

void ZoneBar::add(ZoneLabel* zone) {
  zone->setParent(this);
  zones_.push_back(zone);
  relayout();
}

void ZoneBar::setText(std::size_t zone, const QString& text) {
  if (zone >= zones_.size() || zones_[zone]->text() == text) return;
  zones_[zone]->setText(text);
  // Laid out again once the window's thread is back in its loop: a listing that writes a text for
  // each of 10,000 entries lays the bar out once, not 10,000 times.
  if (relayoutPending_) return;
  relayoutPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        relayoutPending_ = false;
        relayout();
      },
      Qt::QueuedConnection);
}

QSize ZoneBar::sizeHint() const {
  int width = 0, height = 0;
  for (const ZoneLabel* z : zones_) {
    width += std::max(z->definedWidth(), z->neededWidth());
    height = std::max(height, z->sizeHint().height());
  }
  return {width + kSpacing * std::max(0, static_cast<int>(zones_.size()) - 1), height};
}

void ZoneBar::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  relayout();
}

// Each zone asks for the larger of its definition's width and its text's. When the bar holds all of
// that, the zones that take what is left share the rest. When it does not, the widths beyond the texts
// give way first, each in proportion. When even the texts do not fit, the shortest stay whole as long
// as every zone after them keeps room for a few characters, and the longest share what is left.
void ZoneBar::relayout() {
  const std::size_t n = zones_.size();
  if (n == 0) return;
  const long room = std::max(0, width() - kSpacing * static_cast<int>(n - 1));
  std::vector<long> need(n), want(n), given(n);
  std::size_t stretching = 0;
  for (std::size_t i = 0; i < n; ++i) {
    need[i] = zones_[i]->neededWidth();
    want[i] = std::max<long>(zones_[i]->definedWidth(), need[i]);
    if (zones_[i]->definedWidth() <= 0) ++stretching;
  }
  const long wanted = std::accumulate(want.begin(), want.end(), 0L);
  const long needed = std::accumulate(need.begin(), need.end(), 0L);
  if (wanted <= room) {
    given = want;
    for (std::size_t i = 0, shared = 0; i < n && stretching > 0; ++i)
      if (zones_[i]->definedWidth() <= 0) {
        // The last stretching zone takes what the division leaves over.
        const long extra = (room - wanted) / static_cast<long>(stretching);
        given[i] +=
            ++shared == stretching ? room - wanted - extra * static_cast<long>(stretching - 1) : extra;
      }
  } else if (needed <= room) {
    const long slack = wanted - needed, kept = room - needed;
    for (std::size_t i = 0; i < n; ++i) given[i] = need[i] + (want[i] - need[i]) * kept / slack;
  } else {
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return need[a] < need[b]; });
    const long least = zones_[0]->fontMetrics().horizontalAdvance(QStringLiteral("xxx\u2026"));
    long left = room;
    std::size_t whole = 0;
    while (whole < n && need[order[whole]] + least * static_cast<long>(n - whole - 1) <= left)
      left -= need[order[whole++]];
    // The rest share what is left, the shorter of them whole where an equal share holds them.
    for (std::size_t k = whole; k < n; ++k) {
      const long share = left / static_cast<long>(n - k);
      given[order[k]] = std::min(need[order[k]], share);
      left -= given[order[k]];
    }
    for (std::size_t k = 0; k < whole; ++k) given[order[k]] = need[order[k]];
  }
  int x = 0;
  for (std::size_t i = 0; i < n; ++i) {
    zones_[i]->setGeometry(x, 0, static_cast<int>(given[i]), height());
    zones_[i]->refreshTip();
    x += static_cast<int>(given[i]) + kSpacing;
  }
}

}  // namespace ui::detail
