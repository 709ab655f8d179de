#include "engine/client_session.h"

#include <mutex>
#include <string>
#include <utility>

#include "engine/status_callback.h"
#include "engine/texts.h"
#include "engine/thread_check.h"
#include "inet/certificates.h"
#include "inet/options.h"
#include "inet/wininet.h"
#include "ui/runtime.h"

namespace engine {

namespace {
ui::Guarded<WindowHooks> hooks;
}

void installWindowHooks(WindowHooks h) { hooks.set(h); }

void refreshControlsHook() {
  // A copy, so that the window may install new hooks while this one runs.
  const auto refresh = hooks.get().refreshControls;
  if (refresh) refresh();
}

void readLocalFilesHook() {
  const auto read = hooks.get().readLocalFiles;
  if (read) read();
}

void commandEndedHook(bool ok) {
  const auto ended = hooks.get().commandEnded;
  if (ended) ended(ok);
}

namespace {
// The state's name beside its code: the code alone cannot tell the three kinds of 2 apart. The lock
// keeps name and code one pair when the window's thread and a delivery thread both enter a state.
std::mutex stateLock;
const State* current = &state::Loaded;
}  // namespace

void enter(const State& to) {
  const State* from;
  {
    std::lock_guard lock(stateLock);
    from = std::exchange(current, &to);
    OperationState = to.code;
  }
  inet::traceNote(ui::cat("operation state ", from->name, " -> ", to.name));
}

const State& currentState() {
  std::lock_guard lock(stateLock);
  return *current;
}

std::string serverName() { return std::string(ServerName.get().clip()); }

std::uint32_t openInternet(std::uint32_t flags) {
  const auto agent = AgentName.get();
  const auto proxy = ProxyServer.get();
  HINTERNET h;
  if (bProxyFromRegistry.load() != 0) {
    h = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, NullString.c_str(), NullString.c_str(),
                      flags);
  } else if (!proxy.blank()) {
    const std::string name(proxy.clip());
    h = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, name.c_str(), NullString.c_str(), flags);
  } else {
    h = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, NullString.c_str(), NullString.c_str(),
                      flags);
  }
  if (h != nullptr) {
    if (auto question = hooks.get().trustQuestion) inet::setTrustQuestion(h, std::move(question));
  }
  return INET_HANDLE_ID(h);
}

void openSession() {
  ENGINE_RUNS_ON(Window);
  const std::uint32_t session = openInternet(INTERNET_FLAG_ASYNC);
  const DWORD error = GetLastError();
  hOpen = session;
  if (session == 0) {
    ErrorText = internetErrorText(error).clip();
    ui::message(ErrorText.get().clip(), {}, ui::ICON_NONE, ui::BUTTON_OK);
  }
  hConnection = 0;
  InternetSetStatusCallback(INET_HANDLE(session), statusCallback);
  bSessionOpen = 1;
  refreshControlsHook();
  TransferType = FTP_TRANSFER_TYPE_BINARY;
}

void disconnect() {
  ENGINE_RUNS_ON(Window);
  if (const std::uint32_t connection = hConnection.exchange(0)) InternetCloseHandle(INET_HANDLE(connection));
  FoundFiles.free();
  DirectoryList.free();
  // The folder went with the tree that held it.
  RemoteDirectory = "";
  bActiveSession = 0;
  bSessionOpen = 1;
  refreshControlsHook();
}

void closeSession() {
  ENGINE_RUNS_ON(Window);
  if (const std::uint32_t connection = hConnection.exchange(0)) InternetCloseHandle(INET_HANDLE(connection));
  if (const std::uint32_t session = hOpen.exchange(0)) InternetCloseHandle(INET_HANDLE(session));
  DirectoryList.free();
  FoundFiles.free();
  RemoteDirectory = "";
  bActiveSession = 0;
  bSessionOpen = 0;
  refreshControlsHook();
}

}  // namespace engine
