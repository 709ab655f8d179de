#include "client/resizer.h"

namespace client {

namespace {

Geometry geometryOf(const ui::Rect& r) { return Geometry{r.x, r.y, r.width, r.height}; }

}  // namespace

void setUp(Resizer& resizer, ui::Window& window, int mode) {
  resizer.CONTROLQUEUE = std::make_unique<ui::Queue<ResizerControl>>();
  resizer.ORIGWIN = geometryOf(window.position());
  resizer.PREVIOUSWIN = resizer.ORIGWIN;
  for (int f = window.firstControl(); f <= window.lastControl(); ++f) {
    const int kind = window.controlKind(f);
    if (kind == ui::kind::None || kind == ui::kind::Menu || kind == ui::kind::MenuItem) continue;
    ResizerControl rec;
    rec.ID = f;
    rec.TYPE = kind;
    rec.POS = geometryOf(window.controlPosition(f));
    const Strategies s = strategiesFor(kind, mode);
    rec.POSITIONALSTRATEGY = s.positional;
    rec.RESIZESTRATEGY = s.resize;
    resizer.CONTROLQUEUE->add(rec);
  }
  resizer.CONTROLQUEUE->sort(ui::by(&ResizerControl::ID));
}

void reLayout(Resizer& resizer, ui::Window& window) {
  if (!resizer.CONTROLQUEUE) return;
  const int savedDeferred = window.deferredMoves();
  const Geometry now = geometryOf(window.position());
  if (now.WIDTH == resizer.PREVIOUSWIN.WIDTH && now.HEIGHT == resizer.PREVIOUSWIN.HEIGHT) return;
  resizer.PREVIOUSWIN = now;

  const Ratio rx = ratioOf(now.WIDTH, resizer.ORIGWIN.WIDTH);
  const Ratio ry = ratioOf(now.HEIGHT, resizer.ORIGWIN.HEIGHT);
  const std::vector<ResizerControl> controls = resizer.CONTROLQUEUE->snapshot();
  window.setDeferredMoves(static_cast<int>(controls.size()));
  for (const ResizerControl& c : controls) {
    const Placement p = placeControl(c, resizer.ORIGWIN, now.WIDTH, now.HEIGHT, rx, ry);
    window.setControlPosition(c.ID, p.at, p.keepWidth);
  }
  if (savedDeferred < 0) window.setDeferredMoves(savedDeferred);
}

void release(Resizer& resizer) { resizer.CONTROLQUEUE.reset(); }

}  // namespace client
