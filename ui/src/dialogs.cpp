// Message boxes and popup menus, and the hooks that let tests answer them.
#include "dialogs.h"

#include <QApplication>
#include <QCursor>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app.h"
#include "qtext.h"
#include "ui/runtime.h"

namespace ui {
namespace {

struct Hooks {
  std::mutex mutex;
  int headless = -1;  // -1: not decided yet
  std::deque<int> messageAnswers, popupAnswers;
  std::vector<test::MessageShown> messages;
  std::vector<test::PopupShown> popups;
  std::vector<std::string> standard;
};

Hooks& hooks() {
  static Hooks* h = new Hooks;
  return *h;
}

std::vector<std::string> splitItems(std::string_view items) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = items.find('|', start);
    out.emplace_back(
        items.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return out;
}

int firstButtonOf(int buttons) {
  for (int b : {BUTTON_OK, BUTTON_YES, BUTTON_NO, BUTTON_CANCEL})
    if (buttons & b) return b;
  return BUTTON_OK;
}

int showMessageBox(std::string_view text, std::string_view caption, int icon, int buttons,
                   int defaultButton) {
  QMessageBox box;
  std::string lines(text);
  for (char& c : lines)
    if (c == '|') c = '\n';
  // Texts carry servers' replies and certificates' names: never markup to interpret.
  box.setTextFormat(Qt::PlainText);
  box.setText(detail::qs(lines));
  box.setWindowTitle(detail::qs(caption));
  switch (icon) {
    case IDI_QUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case IDI_EXCLAMATION:
      box.setIcon(QMessageBox::Warning);
      break;
    case IDI_ASTERISK:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  if ((buttons & (BUTTON_OK | BUTTON_YES | BUTTON_NO | BUTTON_CANCEL)) == 0) buttons = BUTTON_OK;
  struct Choice {
    int value;
    QMessageBox::StandardButton standard;
  };
  const Choice choices[] = {{BUTTON_OK, QMessageBox::Ok},
                            {BUTTON_YES, QMessageBox::Yes},
                            {BUTTON_NO, QMessageBox::No},
                            {BUTTON_CANCEL, QMessageBox::Cancel}};
  for (const Choice& c : choices) {
    if (!(buttons & c.value)) continue;
    QPushButton* b = box.addButton(c.standard);
    if (c.value == (defaultButton ? defaultButton : firstButtonOf(buttons))) box.setDefaultButton(b);
  }
  // A box sizes itself to its text; a window manager then cuts a longer caption. A strut across
  // the box's layout keeps it as wide as the caption, its title bar's buttons and the icon there.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()); grid && !caption.empty()) {
    QFont title = box.font();
    title.setBold(true);
    const int captionWidth = QFontMetrics(title).horizontalAdvance(detail::qs(caption));
    const int decorations = 6 * QFontMetrics(box.font()).height();
    grid->addItem(new QSpacerItem(captionWidth + decorations, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.exec();
  const auto pressed = box.standardButton(box.clickedButton());
  for (const Choice& c : choices)
    if (c.standard == pressed) return c.value;
  // Closed without a button (Escape with no Cancel): the safest answer the box offered.
  if (buttons & BUTTON_CANCEL) return BUTTON_CANCEL;
  if (buttons & BUTTON_NO) return BUTTON_NO;
  return firstButtonOf(buttons);
}

int showPopup(const std::vector<std::string>& items, const std::vector<bool>& greyed) {
  QMenu menu;
  std::vector<QAction*> actions;
  for (std::size_t i = 0; i < items.size(); ++i) {
    QAction* a = menu.addAction(detail::qs(items[i]));
    a->setEnabled(!greyed[i]);
    actions.push_back(a);
  }
  QAction* chosen = menu.exec(QCursor::pos());
  for (std::size_t i = 0; i < actions.size(); ++i)
    if (actions[i] == chosen) return static_cast<int>(i) + 1;
  return 0;
}

}  // namespace

namespace detail {

bool dialogsHeadless() {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  if (h.headless < 0) {
    const char* p = std::getenv("QT_QPA_PLATFORM");
    h.headless = p && std::string_view(p).rfind("offscreen", 0) == 0 ? 1 : 0;
  }
  return h.headless == 1;
}

void recordStandardDialog(const std::string& name) {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  h.standard.push_back(name);
}

}  // namespace detail

int message(std::string_view text, std::string_view caption, int icon, int buttons, int defaultButton) {
  if (detail::dialogsHeadless()) {
    Hooks& h = hooks();
    std::lock_guard lock(h.mutex);
    h.messages.push_back({std::string(text), std::string(caption), icon, buttons, defaultButton});
    if (!h.messageAnswers.empty()) {
      const int answer = h.messageAnswers.front();
      h.messageAnswers.pop_front();
      return answer;
    }
    return defaultButton ? defaultButton : firstButtonOf(buttons);
  }
  if (!detail::ensureStarted()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    return defaultButton ? defaultButton : firstButtonOf(buttons);
  }
  int answer = 0;
  const std::string t(text), c(caption);
  detail::runOnGui([&] { answer = showMessageBox(t, c, icon, buttons, defaultButton); }, true);
  return answer;
}

int popup(std::string_view itemsText) {
  std::vector<std::string> items = splitItems(itemsText);
  std::vector<bool> greyed;
  for (auto& item : items) {
    greyed.push_back(!item.empty() && item[0] == '~');
    if (greyed.back()) item.erase(0, 1);
  }
  if (detail::dialogsHeadless()) {
    Hooks& h = hooks();
    std::lock_guard lock(h.mutex);
    h.popups.push_back({std::string(itemsText), items, greyed});
    if (!h.popupAnswers.empty()) {
      const int answer = h.popupAnswers.front();
      h.popupAnswers.pop_front();
      // A greyed or missing item cannot be chosen, whatever the test asks.
      if (answer < 1 || answer > static_cast<int>(items.size()) || greyed[answer - 1]) return 0;
      return answer;
    }
    return 0;
  }
  if (!detail::ensureStarted()) return 0;
  int answer = 0;
  detail::runOnGui([&] { answer = showPopup(items, greyed); }, true);
  return answer;
}

namespace test {

void headlessDialogs(bool on) {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  h.headless = on ? 1 : 0;
}

void answerMessage(int button) {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  h.messageAnswers.push_back(button);
}

void answerPopup(int item) {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  h.popupAnswers.push_back(item);
}

std::vector<MessageShown> messagesShown() {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  return std::exchange(h.messages, {});
}

std::vector<PopupShown> popupsShown() {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  return std::exchange(h.popups, {});
}

std::vector<std::string> standardDialogsShown() {
  Hooks& h = hooks();
  std::lock_guard lock(h.mutex);
  return std::exchange(h.standard, {});
}

}  // namespace test
}  // namespace ui
