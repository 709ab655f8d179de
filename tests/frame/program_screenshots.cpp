// Pictures of the program for the README, taken under a virtual X server (scripts/screenshots.sh):
// the frame with its FTP menu open, the parameters window with its defaults, and a batch window part
// way through a download from a server that sends its last file slowly.
//
// Usage: program_screenshots DIRECTORY
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fault_server.h"
#include "ftp_servers.h"
#include "program_driver.h"
#include "tarnwick/parameters.h"

namespace {

using namespace programtest;

// The frame's top-level window.
QWidget* frameWidget() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(w);
        main && main->isVisible() && main->windowTitle() == "TEST FTP CLIENT")
      return main;
  return nullptr;
}

// The screen around the frame and any menu open over it, saved as a PNG.
bool shoot(const User& user, const std::string& file) {
  return user.onGui([&] {
    QWidget* frame = frameWidget();
    if (!frame) return false;
    QRect area = frame->frameGeometry();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QMenu*>(w) && w->isVisible()) area = area.united(w->geometry());
    const QPixmap shot =
        QApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    return shot.save(QString::fromStdString(file));
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::string out = std::filesystem::absolute(argv[1]).string();

  faultftp::FaultServer server;
  server.makeDirectory("/incoming");
  server.putFile("/incoming/FTPClient.txt", std::string(258, 'c'));
  server.putFile("/incoming/!how to upload.txt", std::string(237, 'h'));
  server.putPatternFile("/incoming/Quillmere.zip", 150000);
  // The fourth download is the archive ("garbage" is tried and refused): slow enough to be seen.
  server.add(faultftp::Fault::on("RETR", 4).chunks(1500, faultftp::Millis(40)));
  setenv(tarnwick::kDefaultServerVariable, server.address().c_str(), 1);

  testsupport::TempDir config("tarnwick-config");
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  testsupport::TempDir downloads("Downloads");
  std::filesystem::current_path(downloads.path());

  bool ok = true;
  const auto step = [&ok](bool done, const char* what) {
    if (!done) std::fprintf(stderr, "program_screenshots: %s failed\n", what);
    ok = ok && done;
    return done;
  };
  runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    if (!step(frame != 0, "opening the frame")) return;

    // The bar drops the menu a moment after its title is chosen, placed where the window was then: a
    // menu dropped before the window manager framed the window hangs too high and is dropped again.
    const auto ftpMenuUnderItsTitle = [] {
      QWidget* w = frameWidget();
      auto* bar = w ? static_cast<QMainWindow*>(w)->menuBar() : nullptr;
      if (!bar) return false;
      for (QAction* a : bar->actions()) {
        QMenu* menu = a->menu();
        if (a->text() != "FTP" || !menu) continue;
        if (!menu->isVisible()) {
          bar->setActiveAction(a);
          return false;
        }
        if (menu->geometry().top() >= bar->mapToGlobal(bar->actionGeometry(a).bottomLeft()).y()) return true;
        menu->hide();
        return false;
      }
      return false;
    };
    step(waitFor([&] { return user.onGui(ftpMenuUnderItsTitle); }, 5s), "opening the FTP menu");
    step(shoot(user, out + "/frame-ftp-menu.png"), "the frame's picture");
    user.onGui([] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMenu*>(w)) w->hide();
    });

    if (!step(uitest::chooseMenu(frame, kStartAutoUploadDownload), "choosing the batch")) return;
    const ui::WindowRef params = user.nextWindow(frame);
    if (!step(params != 0, "opening the parameters")) return;
    std::this_thread::sleep_for(300ms);
    step(shoot(user, out + "/parameters-defaults.png"), "the parameters' picture");

    if (!step(uitest::press(params, kStart), "pressing Start")) return;
    const ui::WindowRef batch = user.nextWindow(params);
    if (!step(batch != 0, "opening the batch")) return;
    const bool midway = waitFor([&] {
      const int percent = std::atoi(ui::test::shownText(batch, 4).c_str());
      return percent >= 30 && percent <= 70;
    });
    if (step(midway, "waiting for the archive's download"))
      step(shoot(user, out + "/batch-download.png"), "the batch's picture");
    user.backTo(params, 30s);
  });
  return ok ? 0 : 1;
}
