#include "framework/error_manager.h"

#include "framework/placeholder_text.h"
#include "ui/runtime.h"

namespace framework {
namespace {

constexpr std::string_view kFatalTail = "  Press OK to end this application";
constexpr std::string_view kMissingTitle = "Unknown Message";

}  // namespace

void ErrorManager::addErrors(std::span<const std::uint8_t> packed) {
  if (!ERRORS) return;
  const auto& table = tables_.emplace_back(packed.begin(), packed.end());
  for (const MessageDefinition& m : unpackMessages(table))
    ERRORS->add(MessageEntry{m.id, m.text, m.title, m.level});
}

int ErrorManager::takeBenign() { return level::Benign; }

// The title is copied before a box is shown: a message raised while the box waits changes the
// current message, and with it what the entry's views refer to.
int ErrorManager::takeFatal() {
  const std::string title(current().TITLE);
  ui::message(ui::cat(compose(), kFatalTail), title, ui::IDI_ASTERISK, ui::BUTTON_OK, ui::BUTTON_OK);
  ui::halt(kFatalExitCode, title);
}

int ErrorManager::takeNotify() {
  const std::string title(current().TITLE);
  ui::message(compose(), title, ui::IDI_ASTERISK, ui::BUTTON_OK, ui::BUTTON_OK);
  return level::Notify;
}

int ErrorManager::takeOther() { return takeProgram(); }

int ErrorManager::takeProgram() { return takeFatal(); }

int ErrorManager::takeUser() {
  const std::string title(current().TITLE);
  const int pressed =
      ui::message(compose(), title, ui::IDI_EXCLAMATION, ui::BUTTON_YES + ui::BUTTON_NO, ui::BUTTON_YES);
  return pressed == ui::BUTTON_YES ? level::Benign : level::Cancel;
}

void ErrorManager::init() {
  tables_.clear();
  current_ = 0;
  ERRORS = std::make_unique<ui::Queue<MessageEntry>>();
  addErrors(packedMessageTable());
  PROCNAMES = std::make_unique<ui::Queue<ProcNameEntry>>();
}

void ErrorManager::kill() {
  ERRORS.reset();
  PROCNAMES.reset();
  tables_.clear();
  current_ = 0;
}

void ErrorManager::setFile(std::string_view name) { FILENAME = ui::clip(name); }

void ErrorManager::setErrors() {
  SAVEERRORCODE = ui::errorCode();
  SAVEERROR = ui::clip(ui::errorText());
  SAVEFILEERRORCODE = ui::clip(ui::fileErrorCode());
  SAVEFILEERROR = ui::clip(ui::fileError());
}

int ErrorManager::throwError(std::uint16_t id) {
  setErrors();
  return takeError(id);
}

int ErrorManager::takeError(std::uint16_t id) {
  setId(id);
  switch (current().FATALITY) {
    case level::Benign:
      return takeBenign();
    case level::User:
    case level::Cancel:
      return takeUser();
    case level::Program:
      return takeProgram();
    case level::Fatal:
      return takeFatal();
    case level::Notify:
      return takeNotify();
    default:
      return takeOther();
  }
}

int ErrorManager::message(std::uint16_t id, int buttons, int defaultButton) {
  setId(id);
  const std::string title(current().TITLE);
  return ui::message(compose(), title, ui::IDI_EXCLAMATION, buttons, defaultButton);
}

void ErrorManager::setProcedureName(std::string_view name, bool remove) {
  if (!PROCNAMES) return;
  const auto thread = static_cast<std::int32_t>(ui::currentThread());
  if (!remove) {
    PROCNAMES->add(ProcNameEntry{thread, std::string(ui::clip(name))});
    return;
  }
  // Find and delete under one lock: another thread's registration must not shift the position between.
  // The entry goes even when its name is empty, so that every register is undone by one remove.
  PROCNAMES->locked([thread](auto& names) {
    for (std::size_t pos = names.count(); pos > 0; --pos) {
      if (names.at(pos)->THREAD == thread) {
        names.del(pos);
        return;
      }
    }
  });
}

std::string ErrorManager::getProcedureName() const {
  if (!PROCNAMES) return {};
  const auto thread = static_cast<std::int32_t>(ui::currentThread());
  std::string name;
  PROCNAMES->forEach([&](std::size_t, const ProcNameEntry& e) {
    if (e.THREAD == thread) name = e.NAME;
  });
  return name;
}

std::string ErrorManager::compose() const {
  const MessageEntry entry = current();
  PlaceholderText text(entry.MESSAGE, kComposeLimit);
  const std::string code = std::to_string(SAVEERRORCODE);
  text.fill("%ErrorCode", code);
  text.fill("%ErrorText", SAVEERRORCODE == ui::ERROR_FILE_SYSTEM
                              ? ui::cat(SAVEFILEERROR.clip(), " (", SAVEFILEERRORCODE.clip(), ")")
                              : ui::cat(SAVEERROR.clip(), " (", code, ")"));
  text.fill("%Error", SAVEERROR.clip());
  text.fill("%FileErrorCode", SAVEFILEERRORCODE.clip());
  text.fill("%FileError", SAVEFILEERROR.clip());
  text.fill("%File", FILENAME.clip());
  text.fill("%Message", MESSAGETEXT.clip());
  text.fill("%Field", FIELDNAME.clip());
  text.fill("%Procedure", getProcedureName());
  constexpr std::string_view previous = "%Previous";
  if (text.contains(previous, true)) {
    // The message this one replaced: the nearest earlier entry with the same id.
    std::string_view quoted;
    if (ERRORS && current_ > 1) {
      for (std::size_t pos = current_ - 1; pos > 0; --pos) {
        MessageEntry earlier;
        if (ERRORS->get(pos, earlier) && earlier.ID == entry.ID) {
          quoted = earlier.MESSAGE;
          break;
        }
      }
    }
    text.fill(previous, quoted, true);
  }
  return text.text();
}

bool ErrorManager::setId(std::uint16_t id) {
  currentId_ = id;
  current_ = 0;
  if (!ERRORS) return false;
  // From the end: a message loaded later replaces an earlier one with the same id.
  ERRORS->locked([&](auto& errors) {
    for (std::size_t pos = errors.count(); pos > 0; --pos) {
      if (errors.at(pos)->ID == id) {
        current_ = pos;
        return;
      }
    }
  });
  if (current_ == 0) missingText_ = ui::cat("Message ", std::to_string(id), " is not in the message table.");
  return current_ != 0;
}

MessageEntry ErrorManager::current() const {
  MessageEntry entry;
  if (current_ != 0 && ERRORS && ERRORS->get(current_, entry)) return entry;
  return MessageEntry{currentId_, missingText_, kMissingTitle, level::Notify};
}

}  // namespace framework
