// SetUplDnlParameters: the Upload/Download Parameters window. It starts from the defaults every time,
// validates nothing, and hands what it holds to UPLDNL_AS at the texts' full widths, blank-padded; the
// library trims them. The window stays open after a batch, for the next one.
#include <cstdlib>
#include <memory>
#include <string>

#include "nimbo.h"
#include "procedure.h"
#include "tarnwick/controls.h"
#include "tarnwick/parameters.h"
#include "tarnwick/program.h"

namespace tarnwick {
namespace {

constexpr int kFrameHintZone = 0;

struct LocalDirectoryDefault {
  std::string text;  // what the field shows
  std::string hint;  // for the frame's status bar; empty when the text says it all
};

LocalDirectoryDefault localDirectoryDefault(std::string_view currentDirectory) {
  if (currentDirectory.empty())
    return {std::string(kCurrentDirectory), "The current directory cannot be read."};
  if (currentDirectory.size() <= kLocalDirectoryWidth) return {std::string(currentDirectory), {}};
  return {std::string(kCurrentDirectory),
          ui::cat("Local Directory .\\ is the current directory, whose name is too long for the field: ",
                  currentDirectory)};
}

struct Parameters {
  std::uint8_t actionType = 1;  // 0 upload, 1 download: the direction UPLDNL_AS takes
  std::uint8_t passive = 1;
  ui::PText<kServerWidth> server;
  ui::PText<kUserWidth> userName;
  ui::PText<kPasswordWidth> password;
  ui::PText<kRemoteDirectoryWidth> remoteDirectory;
  ui::PText<kLocalDirectoryWidth> localDirectory;
  std::unique_ptr<ui::PText<kFileListWidth>> fileList = std::make_unique<ui::PText<kFileListWidth>>();
};

// An entry shows a blank-padded text without its padding; what is typed is padded again.
template <std::size_t N>
ui::Binding entryBinding(ui::PText<N>& text) {
  return {[&text] { return text.str(); }, [&text](std::string_view typed) { text = typed; }};
}

std::string defaultServer() {
  const char* chosen = std::getenv(kDefaultServerVariable);
  return chosen && *chosen ? std::string(chosen) : std::string(kDefaultServer);
}

class ParametersManager final : public Procedure {
 public:
  ParametersManager(ui::Window& window, Parameters& p) : Procedure(window, "SetUplDnlParameters", 2), p_(p) {}

  int takeAccepted() override {
    const int level = Procedure::takeAccepted();
    switch (window().control()) {
      case kStart:
        update();
        window().update();
        startBatch();
        break;
      case kCancel:
        update();
        window().post(ui::event::CloseWindow);
        break;
      default:
        break;
    }
    return level;
  }

  int kill() override {
    if (hinted_) ui::setStatus(frameWindow(), kFrameHintZone, "");
    return Procedure::kill();
  }

 private:
  void prepare() override {
    const LocalDirectoryDefault local = localDirectoryDefault(ui::clip(ui::currentDirectory()));
    p_.localDirectory = local.text;
    if (!local.hint.empty()) {
      ui::setStatus(frameWindow(), kFrameHintZone, local.hint);
      hinted_ = true;
    }
  }

  void startBatch() {
    // Full widths: the padding is part of what is passed.
    const std::string server(p_.server.view()), user(p_.userName.view()), password(p_.password.view()),
        remote(p_.remoteDirectory.view()), local(p_.localDirectory.view()), list(p_.fileList->view());
    // This window's loop waits while the batch runs, and so would a press of its buttons, to start a
    // second batch or close the window once this one ends: they take none until then.
    window().enable(kStart, false);
    window().enable(kCancel, false);
    UPLDNL_AS(server.c_str(), user.c_str(), password.c_str(), remote.c_str(), local.c_str(), list.c_str(),
              p_.passive, p_.actionType);
    window().enable(kStart, true);
    window().enable(kCancel, true);
  }

  Parameters& p_;
  bool hinted_ = false;
};

}  // namespace

void SetUplDnlParameters() {
  Parameters p;
  p.server = defaultServer();
  p.remoteDirectory = kDefaultRemoteDirectory;
  *p.fileList = kDefaultFileList;

  ui::Window window("tarnwick$TARNW002", "P1$WINDOW");
  window.bind(kActionType, p.actionType);
  window.bind(kPassive, p.passive);
  window.bind(kServer, entryBinding(p.server));
  window.bind(kUserName, entryBinding(p.userName));
  window.bind(kPassword, entryBinding(p.password));
  window.bind(kRemoteDirectory, entryBinding(p.remoteDirectory));
  window.bind(kLocalDirectory, entryBinding(p.localDirectory));
  window.bind(kFileList, entryBinding(*p.fileList));

  ParametersManager manager(window, p);
  GlobalResponse = static_cast<std::uint8_t>(manager.run());
}

}  // namespace tarnwick
