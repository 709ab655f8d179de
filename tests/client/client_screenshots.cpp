// Pictures of the client window for the documentation, taken under a virtual X server: connected to a
// pyftpdlib over the bundled demo files with a folder open and a file highlighted, the same enlarged
// (the resizer scaling the controls), the remote tree's context menu open, the Rename File and Create
// Directory dialogs over names beyond ASCII, and the question a server's certificate signed by itself
// raises.
//
//   client_screenshots DIRECTORY      (run by tests/client/screenshots.sh)
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "certificates.h"
#include "client_driver.h"
#include "ftp_servers.h"
#include "inet/certificates.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;
using client::testing::Driver;
using namespace std::chrono_literals;

// Runs f on the window's thread, where the widgets live, and waits for it.
template <typename F>
void onWindowThread(F f) {
  QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
}

QWidget* clientWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowTitle() == "Asynchronous FTP Client") return w;
  return nullptr;
}

// The remote tree: the leftmost tree list of the window.
QTreeView* remoteTree(QWidget* window) {
  QTreeView* leftmost = nullptr;
  for (QTreeView* v : window->findChildren<QTreeView*>())
    if (!leftmost || v->mapTo(window, QPoint()).x() < leftmost->mapTo(window, QPoint()).x()) leftmost = v;
  return leftmost;
}

bool saveWindow(const fs::path& file) {
  bool saved = false;
  onWindowThread([&] {
    if (QWidget* w = clientWindow()) saved = w->grab().save(QString::fromStdString(file.string()));
  });
  std::printf("%s\n", file.c_str());
  return saved;
}

// Waits for the next popup or box over the window (what `shown` finds), saves the screen around both
// when `file` is given, and closes it: a menu dismissed, a box left without an answer.
void closeOver(QWidget* (*shown)(), const fs::path& file = {}) {
  QWidget* over = nullptr;
  Driver::waitFor([&] {
    onWindowThread([&] { over = shown(); });
    return over != nullptr;
  });
  std::this_thread::sleep_for(300ms);  // the window manager places it and draws its frame
  onWindowThread([&] {
    QWidget* w = clientWindow();
    if (!w || !over || over != shown()) return;
    if (!file.empty()) {
      const QRect area = w->frameGeometry().united(over->frameGeometry());
      QGuiApplication::primaryScreen()
          ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
          .save(QString::fromStdString(file.string()));
      std::printf("%s\n", file.c_str());
    }
    over->close();
  });
}

void takeDialogPicture(Driver& d, std::string_view row, int item, const QString& title, const fs::path& file);

constexpr std::string_view kLongFile = "Überweisungen März–Juni.pdf";
constexpr std::string_view kLongFolder = "Jahresabschluß Gemeindehaus Zürich";

void takePictures(Driver& d, const testsupport::FtpServer& server, const fs::path& out) {
  using namespace client;
  d.click(control::StartSession);
  d.enterText(control::ServerName, server.address());
  d.enterText(control::UserName, "anonymous");
  d.enterText(control::Password, "guest");
  d.click(control::Connect);
  if (!Driver::waitFor([&] { return d.shown(control::RemoteTree) == server.address() + "\t"; })) return;
  d.clickRow(control::RemoteTree, Driver::treeRow("/pub"), ui::key::MouseLeftDouble);
  d.settle();
  Driver::idle();
  d.clickRow(control::RemoteTree, Driver::treeRow("/pub/readme.txt"));
  d.clickMark(control::FileList, Driver::fileRow("letter.odt"));
  d.clickMark(control::FileList, Driver::fileRow("notes.txt"));
  d.clickRow(control::FileList, Driver::fileRow("budget 2024.xlsx"));
  d.settle();
  saveWindow(out / "client-connected.png");

  ui::test::resizeTo(d.window(), 640, 330);
  d.settle();
  saveWindow(out / "client-enlarged.png");
  ui::test::resizeTo(d.window(), 464, 243);
  d.settle();

  // The menu opens at the mouse: the pointer goes to the highlighted row first.
  onWindowThread([] {
    QWidget* w = clientWindow();
    QTreeView* tree = w ? remoteTree(w) : nullptr;
    if (tree) QCursor::setPos(tree->viewport()->mapToGlobal(tree->visualRect(tree->currentIndex()).center()));
  });
  d.clickRow(control::RemoteTree, Driver::treeRow("/pub/readme.txt"), ui::key::MouseRight);
  closeOver(QApplication::activePopupWidget, out / "client-context-menu.png");
  d.settle();

  // The two dialogs, each showing a long name with letters beyond ASCII whole.
  d.clickRow(control::RemoteTree, Driver::treeRow("/pub/docs"), ui::key::MouseLeftDouble);
  d.settle();
  Driver::idle();
  takeDialogPicture(d, "/pub/docs/" + std::string(kLongFile), 1, "Rename File", out / "client-rename.png");
  takeDialogPicture(d, "/pub/docs/" + std::string(kLongFolder), 3, "Create Directory",
                    out / "client-create-directory.png");
  d.click(control::CloseSession);
}

// The visible top-level window of that title, or nullptr.
QWidget* windowTitled(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowTitle() == title) return w;
  return nullptr;
}

// Opens a dialog from the context menu of a row (the menu's item clicked), saves the dialog as the
// screen shows it, and cancels it.
void takeDialogPicture(Driver& d, std::string_view row, int item, const QString& title,
                       const fs::path& file) {
  using namespace client;
  d.clickRow(control::RemoteTree, Driver::treeRow(row));
  onWindowThread([] {
    QWidget* w = clientWindow();
    QTreeView* tree = w ? remoteTree(w) : nullptr;
    if (tree) QCursor::setPos(tree->viewport()->mapToGlobal(tree->visualRect(tree->currentIndex()).center()));
  });
  d.clickRow(control::RemoteTree, Driver::treeRow(row), ui::key::MouseRight);
  QMenu* menu = nullptr;
  Driver::waitFor([&] {
    onWindowThread([&] { menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); });
    return menu != nullptr;
  });
  onWindowThread([&] {
    if (menu && item <= menu->actions().size())
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[item - 1]).center());
  });
  const ui::WindowRef dialog = d.dialog();
  QWidget* shown = nullptr;
  Driver::waitFor([&] {
    onWindowThread([&] { shown = windowTitled(title); });
    return shown != nullptr;
  });
  std::this_thread::sleep_for(300ms);  // the window manager draws its frame
  onWindowThread([&] {
    if (!shown) return;
    const QRect area = shown->frameGeometry();
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(QString::fromStdString(file.string()));
    std::printf("%s\n", file.c_str());
  });
  uitest::press(dialog, 6);  // Cancel
  Driver::waitFor([&] { return d.top() == d.window(); });
  d.settle();
}

void takeTrustPicture(Driver& d, const testsupport::FtpServer& server, const fs::path& out) {
  using namespace client;
  const std::string name = "ftpes://" + server.address();
  d.click(control::StartSession);
  d.enterText(control::ServerName, name);
  d.click(control::Connect);
  closeOver(QApplication::activeModalWidget, out / "client-trust-question.png");
  closeOver(QApplication::activeModalWidget);  // the refused connect's error
  d.settle();
  d.click(control::CloseSession);
  d.click(control::Close);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  if (!ui::start()) {
    std::fprintf(stderr, "%s\n", ui::startError().c_str());
    return 1;
  }
  client::testing::addClientWindowDefinitions();

  testsupport::ServerOptions options;
  options.anonymous = true;
  auto server = testsupport::startPyftpdlib(options);
  if (!server.ok()) {
    std::fprintf(stderr, "demo server: %s\n", server.error().c_str());
    return 1;
  }
  fs::copy(NIMBO_DEMO_DIR, server->root(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  fs::create_directories(server->root() / "pub" / "docs" / kLongFolder);
  testsupport::writeFile(server->root() / "pub" / "docs" / kLongFile, std::string(20000, 'x'));
  server->handOver();

  // A local folder as a user's might look.
  testsupport::TempDir local("shots");
  const fs::path home = local / "Docs";
  fs::create_directories(home / "Invoices");
  fs::create_directories(home / "Photos");
  for (const char* name : {"budget 2024.xlsx", "letter.odt", "notes.txt", "site-backup.tar.gz"})
    testsupport::writeFile(home / name, std::string(4096, 'x'));
  fs::current_path(home);

  options.tls = testsupport::Tls::Explicit;
  options.certificate = testsupport::testCertificates().selfSigned.string();
  auto tlsServer = testsupport::startPyftpdlib(options);
  if (!tlsServer.ok()) {
    std::fprintf(stderr, "demo server over TLS: %s\n", tlsServer.error().c_str());
    return 1;
  }
  testsupport::TempDir config("shots-config");
  inet::setTrustFile(config / "trusted-certificates");

  client::testing::runClient([&](Driver& d) {
    takePictures(d, *server, out);
    takeTrustPicture(d, *tlsServer, out);
  });
  return 0;
}
