// Bound variables: redisplay copies them into their controls, update copies controls back; lists
// read their source again when it changed. The program's own changes raise no events.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <algorithm>

#include "app.h"
#include "listmodel.h"
#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {

using detail::qs;

namespace {

// A binding to a number the definition lacks is a program out of step with its windows (a control
// renumbered on one side only): stopped at once, naming both, rather than a field that silently never
// shows.
[[noreturn]] void unboundControl(const detail::WindowDef& def, const char* member, int control,
                                 const char* what) {
  detail::fatal("Window " + def.module + "/" + def.name + ": Window::" + member + " of control " +
                std::to_string(control) + ", " + what);
}

}  // namespace

void Window::bind(int control, Binding binding) {
  WindowImpl& w = gui("bind");
  auto it = w.controls_.find(control);
  if (it == w.controls_.end()) unboundControl(*w.def_, "bind", control, "which its definition does not have");
  it->second.binding = std::move(binding);
  it->second.bound = true;
}

void Window::bindList(int control, std::shared_ptr<ListSource> source) {
  WindowImpl& w = gui("bindList");
  WindowImpl::Control* c = w.find(control);
  if (!c) unboundControl(*w.def_, "bindList", control, "which its definition does not have");
  if (!c->model) unboundControl(*w.def_, "bindList", control, "which is not a list");
  c->source = source;
  ++w.quiet_;
  c->model->setSource(std::move(source));
  --w.quiet_;
}

void Window::redisplay(int control) {
  // From another thread, a redisplay can only be asked for.
  if (!detail::onGuiThread()) return requestRedisplay(impl_->ref());
  impl_->redisplay(control);
}

void Window::update(int control) { gui("update").update(control); }
bool Window::updatingAll() const { return gui("updatingAll").updatingAll_; }

void WindowImpl::refreshList(Control& c) {
  const int before = selectedRow(c.def->number);
  ++quiet_;
  if (c.model->refresh()) {
    if (c.view) c.model->applyExpansion(c.view);
    // A highlighted row that went away leaves the highlight at its position, as far as the list
    // still reaches; one that stayed keeps it.
    if (before > 0 && selectedRow(c.def->number) == 0 && c.model->sourceCount() > 0)
      selectRow(c.def->number, std::min(before, c.model->sourceCount()));
  }
  --quiet_;
}

void WindowImpl::redisplayControl(int number, Control& c) {
  if (c.model) refreshList(c);
  if (!c.bound || !c.binding.get) return;
  const std::string value = c.binding.get();
  ++quiet_;
  switch (c.kind) {
    case kind::Entry: {
      auto* e = static_cast<QLineEdit*>(c.widget);
      const QString text =
          qs(c.def->hasPicture && c.def->picture.type == 's' ? detail::applyPicture(c.def->picture, value)
                                                             : value);
      if (e->text() != text) {
        e->setText(text);
        // A text longer than the entry shows its beginning, not its end.
        e->setCursorPosition(0);
      }
      e->setModified(false);
      break;
    }
    case kind::DisplayText:
    case kind::Prompt: {
      const std::string shown = c.def->hasPicture ? detail::applyPicture(c.def->picture, value) : value;
      if (auto* d = dynamic_cast<detail::DisplayLabel*>(c.widget))
        d->show(qs(shown));
      else
        static_cast<QLabel*>(c.widget)->setText(qs(shown));
      break;
    }
    case kind::CheckBox: {
      bool ok = false;
      static_cast<QCheckBox*>(c.widget)->setChecked(detail::toNumber(value, ok) != 0);
      break;
    }
    case kind::OptionGroup: {
      int chosen = 0;
      for (int r : c.radios)
        if (const Control* rc = find(r);
            rc && sameText(trim(rc->def->value.empty() ? std::to_string(r) : rc->def->value), trim(value)))
          chosen = r;
      for (int r : c.radios)
        if (Control* rc = find(r)) static_cast<QRadioButton*>(rc->widget)->setChecked(r == chosen);
      break;
    }
    case kind::ProgressBar: {
      auto* p = static_cast<QProgressBar*>(c.widget);
      bool ok = false;
      const long long v = detail::toNumber(value, ok);
      p->setValue(static_cast<int>(std::clamp<long long>(v, p->minimum(), p->maximum())));
      break;
    }
    case kind::Button:
    case kind::Radio:
      static_cast<QAbstractButton*>(c.widget)->setText(qs(value));
      break;
    case kind::Frame:
      static_cast<QGroupBox*>(c.widget)->setTitle(qs(value));
      break;
    case kind::Image:
      setImage(number, value);
      break;
    default:
      break;
  }
  --quiet_;
}

void WindowImpl::redisplay(int control) {
  if (closed_) return;
  if (control != 0) {
    if (Control* c = find(control)) redisplayControl(control, *c);
    return;
  }
  for (auto& [number, c] : controls_)
    if (c.widget) redisplayControl(number, c);
}

void WindowImpl::updateControl(Control& c) {
  if (!c.bound || !c.binding.set) return;
  switch (c.kind) {
    case kind::Entry: {
      const std::string text = detail::ss(static_cast<QLineEdit*>(c.widget)->text());
      if (c.def->hasPicture && c.def->picture.type == 'n') {
        bool ok = false;
        const long long v = detail::toNumber(text, ok);
        c.binding.set(ok ? std::to_string(v) : std::string("0"));
      } else {
        c.binding.set(text);
      }
      break;
    }
    case kind::CheckBox:
      c.binding.set(static_cast<QCheckBox*>(c.widget)->isChecked() ? "1" : "0");
      break;
    case kind::OptionGroup:
      for (int r : c.radios)
        if (const Control* rc = find(r); rc && static_cast<QRadioButton*>(rc->widget)->isChecked()) {
          c.binding.set(rc->def->value.empty() ? std::to_string(r) : rc->def->value);
          break;
        }
      break;
    default:
      break;
  }
}

void WindowImpl::update(int control) {
  if (closed_) return;
  if (control != 0) {
    if (Control* c = find(control)) updateControl(*c);
    return;
  }
  updatingAll_ = true;
  for (auto& [number, c] : controls_)
    if (c.widget) updateControl(c);
  updatingAll_ = false;
}

}  // namespace ui
