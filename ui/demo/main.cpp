// A window of the runtime, for trying it out: a tree list with icons, a drop-down list with icons,
// status zones and a progress bar fed from a worker thread. "--screenshot FILE" saves a picture of the
// window and exits.
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ui/runtime.h"
#include "window_impl.h"

namespace {

struct Node {
  ui::ZText<260> NAME;
  int32_t ICON = 0;
  int32_t LEVEL = 1;
  ui::PText<20> SIZESTR;
};

struct Drive {
  ui::ZText<2> DRIVE;
  int32_t ICON = 0;
};

struct File {
  ui::PText<256> NAME;
};

Node node(std::string_view name, int icon, int level, std::string_view size = "") {
  Node n;
  n.NAME = name;
  n.ICON = icon;
  n.LEVEL = level;
  n.SIZESTR = size;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const char* screenshot = argc == 3 && std::strcmp(argv[1], "--screenshot") == 0 ? argv[2] : nullptr;
  if (!ui::start()) {
    std::fprintf(stderr, "%s\n", ui::startError().c_str());
    return 1;
  }
  ui::Queue<Node> tree;
  tree.add(node("ftp.example.org", 4, 1));
  tree.add(node("incoming", 1, 2));
  tree.add(node("!how to upload.txt", 3, 3, "1 KB"));
  tree.add(node("FTPClient.txt", 3, 3, "208 bytes"));
  tree.add(node("pub", 1, 2));
  tree.add(node("docs", 2, -3));
  tree.add(node("notes.txt", 3, 4, "3 KB"));
  tree.add(node("readme.txt", 3, 3, "512 bytes"));
  tree.add(node("Quillmere.zip", 3, 2, "14 KB"));
  ui::Queue<Drive> drives;
  drives.add({"A", 1});
  drives.add({"C", 2});
  drives.add({"N", 3});
  drives.add({"R", 4});
  ui::Queue<File> files;
  for (auto name : {"autoexec.bat", "budget.xls", "letter.doc", "notes.txt", "photo.jpg", "report.pdf"}) {
    File f;
    f.NAME = name;
    files.add(f);
  }
  ui::ZText<40> server("ftp.example.org");
  std::uint8_t passive = 1;
  int transfer = 2;
  std::atomic<int> percent{0};
  ui::Guarded<ui::ZText<260>> remote;
  remote = "/pub";

  ui::Window w("UIDEMO", "UIDEMO");
  w.bind(2, server);
  w.bind(3, passive);
  w.bind(5, remote);
  w.bind(9, transfer);
  w.bind(16, percent);
  w.bindList(6, tree, [](const Node& n) {
    return std::vector<ui::Cell>{n.NAME.str(), std::int64_t{n.ICON}, std::int64_t{n.LEVEL}, n.SIZESTR.str()};
  });
  w.bindList(7, drives, [](const Drive& d) {
    return std::vector<ui::Cell>{d.DRIVE.str(), std::int64_t{d.ICON}};
  });
  w.bindList(15, files, [](const File& f) { return std::vector<ui::Cell>{f.NAME.str()}; });
  w.open();
  w.setIconList(6, {"~openfold.ico", "~clsdfold.ico", "~files10.ico", "~entirnet.ico"});
  w.setIconList(7, {"~SMDSKET.ICO", "~SMDISK.ICO", "~SMNETWRK.ICO", "~SMCD.ICO", "~SMRAM.ICO"});
  w.selectRow(7, 2);
  w.selectRow(6, 8);
  w.setStatus(0, "Connected to ftp.example.org");
  w.setStatus(1, "Received: 9216 bytes.");
  w.setStatus(2, "Getting file: readme.txt");
  percent = 60;
  w.redisplay();

  if (screenshot) {
    w.select(6);
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    const bool saved = w.impl().topWidget()->grab().save(QString::fromLocal8Bit(screenshot));
    return saved ? 0 : 1;
  }

  std::thread worker;
  const ui::WindowRef ref = w.ref();
  while (w.accept()) {
    switch (w.event()) {
      case ui::event::Accepted:
        if (w.control() == 17) w.post(ui::event::CloseWindow);
        if (w.control() == 12 && !worker.joinable()) {
          // A transfer's notifications: thousands of writes from a worker, coalesced by the runtime.
          worker = std::thread([ref, &percent] {
            for (int i = 0; i <= 10000; ++i) {
              percent = i / 100;
              ui::setStatus(ref, 1, "Received: " + std::to_string(i * 1024) + " bytes.");
              ui::requestRedisplay(ref);
              std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ui::setStatus(ref, 0, "Download complete");
          });
        }
        if (w.control() == 13) {
          Node n;
          tree.get(6, n);
          n.LEVEL = -n.LEVEL;
          n.ICON = n.LEVEL < 0 ? 2 : 1;
          tree.put(6, n);
          w.redisplay(6);
        }
        break;
      case ui::event::NewSelection:
        if (w.control() == 6) {
          Node n;
          if (tree.get(static_cast<std::size_t>(w.selectedRow(6)), n)) remote = "/" + n.NAME.str();
          w.redisplay(5);
        }
        break;
      case ui::event::Alert:
        w.setStatus(2,
                    ui::keyCode() == ui::key::MouseRight ? "Right button on the tree" : "Alert on the tree");
        break;
      default:
        break;
    }
    if (worker.joinable() && w.event() == ui::event::CloseWindow) worker.join();
  }
  if (worker.joinable()) worker.join();
  w.close();
  return 0;
}
