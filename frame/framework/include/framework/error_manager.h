// The error manager: the program's one service for user-facing error and confirmation messages.
//
// It holds the numbered messages of the message table (title, text with placeholders, level). Raising
// a message fills its placeholders from the window runtime's last error and from what callers
// registered (file name, procedure name), and shows a box whose kind the level decides: a question for
// User and Cancel, an information box for Notify, a box and the end of the program for Fatal, Program
// and any unknown level.
//
// Placeholders, filled in this order, each wherever it occurs and in any letter case:
//   %ErrorCode %ErrorText %Error %FileErrorCode %FileError %File %Message %Field %Procedure
// then "%Previous", only when written exactly so: the raw text of an earlier message with the same id,
// which a message loaded later can so quote. Filled-in values are never searched again.
//
// Threads: procedure names are kept per thread and may be registered from any thread. Raising a
// message, set-file and set-errors belong to one thread at a time (the program raises from its window
// thread only): they share the current message and the saved error fields.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/message_table.h"
#include "ui/queue.h"
#include "ui/text.h"

namespace framework {

// One message of ERRORS. The title and text are held by the manager's copy of the table they were
// loaded from.
struct MessageEntry {
  std::uint16_t ID = 0;
  std::string_view MESSAGE;
  std::string_view TITLE;
  std::uint8_t FATALITY = 0;
};

// One registered procedure name.
struct ProcNameEntry {
  std::int32_t THREAD = 0;  // the window runtime's thread number
  std::string NAME;         // trailing blanks removed
};

class ErrorManager {
 public:
  static constexpr std::size_t kComposeLimit = 1999;  // longest composed text
  // Exit code of the program after a fatal message: the program failed, and says so to its caller.
  static constexpr int kFatalExitCode = 1;

  ErrorManager() = default;
  virtual ~ErrorManager() = default;
  ErrorManager(const ErrorManager&) = delete;
  ErrorManager& operator=(const ErrorManager&) = delete;

  // ---- Operation table.
  // Appends the messages of a packed table (see message_table.h) to ERRORS, in table order. The
  // manager keeps its own copy of the table, so the caller's buffer need not outlive it.
  virtual void addErrors(std::span<const std::uint8_t> packed);
  virtual int takeBenign();   // nothing shown; 0
  virtual int takeFatal();    // box, then the program ends; does not return
  virtual int takeNotify();   // information box; 5
  virtual int takeOther();    // an unknown level: as takeProgram
  virtual int takeProgram();  // as takeFatal
  virtual int takeUser();     // Yes/No question; 0 for Yes, 4 otherwise

  // Loads the compiled-in message table.
  void init();
  // Disposes of the messages and the procedure names.
  void kill();

  // FILENAME <- name without trailing blanks.
  void setFile(std::string_view name);
  // Saves the calling thread's last error of the window runtime into the SAVE* fields.
  void setErrors();
  // set-errors, then take-error. Returns 0, 4 or 5; a fatal message does not return.
  int throwError(std::uint16_t id);
  // Raises a message with the errors saved last. Returns as throwError.
  int takeError(std::uint16_t id);
  // Shows a message as a warning box with the given buttons (a sum of ui::BUTTON_*) and default
  // button; returns the button pressed.
  int message(std::uint16_t id, int buttons, int defaultButton);

  // Registers a procedure name for the calling thread, or, with remove set, removes the one it
  // registered last (the name argument is then not used). Names form a stack per thread.
  void setProcedureName(std::string_view name, bool remove = false);
  // The name the calling thread registered last, or empty text.
  std::string getProcedureName() const;

  // The current message's text with its placeholders filled in, at most 1999 characters.
  std::string compose() const;

  // ---- Fields.
  std::unique_ptr<ui::Queue<MessageEntry>> ERRORS;
  ui::ZText<255> FIELDNAME;    // fills %Field
  ui::ZText<255> FILENAME;     // fills %File
  ui::ZText<255> MESSAGETEXT;  // fills %Message
  std::unique_ptr<ui::Queue<ProcNameEntry>> PROCNAMES;
  ui::ZText<255> SAVEERROR;
  std::int32_t SAVEERRORCODE = 0;
  ui::ZText<255> SAVEFILEERROR;
  ui::ZText<255> SAVEFILEERRORCODE;

 private:
  // Makes the last message with this id current; false (and no message current) when there is none.
  bool setId(std::uint16_t id);
  // The current message: a stand-in naming the id when the table does not hold it.
  MessageEntry current() const;

  std::size_t current_ = 0;                       // position in ERRORS; 0: none
  std::uint16_t currentId_ = 0;                   // the id asked for last
  std::string missingText_;                       // text of the stand-in for an id the table lacks
  std::deque<std::vector<std::uint8_t>> tables_;  // the copies the entries' texts point into
};

}  // namespace framework
