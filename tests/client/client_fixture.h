// What the client window's tests share: a server per test, a local folder the window starts in, and
// the steps a user takes again and again (connect, open a folder, the context menu, a dialog).
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "client/client_window.h"
#include "client/local.h"
#include "client_driver.h"
#include "engine/client_session.h"
#include "ftp_servers.h"
#include "inet/wininet.h"
#include "window_fixture.h"

namespace client::testing {

namespace fs = std::filesystem;
using testsupport::randomBytes;
using namespace std::chrono_literals;
using Messages = std::vector<ui::test::MessageShown>;

inline std::vector<std::string> texts(const Messages& messages) {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

// Whether a control's text fits the room the control has at its font.
inline bool shownWhole(ui::WindowRef window, int control) {
  bool whole = false;
  ui::test::withWidgets(window, [&](const ui::test::Widgets& w) {
    auto* label = qobject_cast<QLabel*>(w.control(control));
    whole = label && label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width();
  });
  return whole;
}

// Whether the remote tree's view draws a node's row: every folder above it is open in the view.
inline bool drawn(Driver& d, std::string_view path) {
  bool shown = false;
  ui::test::withWidgets(d.window(), [&](const ui::test::Widgets& w) {
    auto* view = qobject_cast<QTreeView*>(w.control(control::RemoteTree));
    QModelIndex index = w.row(control::RemoteTree, Driver::treeRow(path));
    shown = view && index.isValid();
    for (QModelIndex up = index.parent(); shown && up.isValid(); up = up.parent())
      shown = view->isExpanded(up);
  });
  return shown;
}

inline bool contains(const std::vector<std::string>& rows, std::string_view row) {
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// The names the remote tree shows, without their sizes.
inline std::vector<std::string> treeNames(Driver& d) {
  std::vector<std::string> names;
  for (const std::string& row : d.rows(control::RemoteTree)) names.push_back(row.substr(0, row.find('\t')));
  return names;
}

// Waits until no command is in flight and the remote tree shows exactly these names (a listing in
// progress shows a pruned tree for a moment).
inline ::testing::AssertionResult treeIs(Driver& d, const std::vector<std::string>& names) {
  if (Driver::waitFor([&] { return Driver::idle(0ms) && treeNames(d) == names; }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the tree shows " << ::testing::PrintToString(treeNames(d));
}

// A server for one test, a local folder the window starts in, and the engine's fields as a user who
// has just started the program finds them.
class ClientWindowBase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ui::start()) << ui::startError();
    testing::addClientWindowDefinitions();
  }

  void startServer(const std::string& kind, bool passive) {
    server_ = testsupport::startServer(kind);
    if (server_.skipped()) GTEST_SKIP() << server_.error();
    ASSERT_TRUE(server_.ok()) << server_.error();
    engine::bPassive = passive ? 1 : 0;
  }

  void SetUp() override {
    ui::test::headlessDialogs(true);
    ui::test::messagesShown();
    ui::test::popupsShown();
    before_ = fs::current_path();
    fs::current_path(local_.path());
    engine::bPassive = 1;
    engine::TransferType = FTP_TRANSFER_TYPE_BINARY;
    engine::UserName = "";
    engine::Password = "";
    ::ServerName = engine::kDefaultServerName;
  }

  void TearDown() override {
    engine::closeSession();
    Driver::idle(10s);
    fs::current_path(before_);
    ui::test::messagesShown();
    ui::test::popupsShown();
  }

  // Start Internet Session, the server's name and login typed, Connect; true once the tree shows the
  // server's top directory.
  bool connect(Driver& d) {
    if (engine::bSessionOpen.load() == 0) {
      EXPECT_TRUE(d.click(control::StartSession));
    }
    EXPECT_TRUE(d.enterText(control::ServerName, server_->address()));
    EXPECT_TRUE(d.enterText(control::UserName, server_->user()));
    EXPECT_TRUE(d.enterText(control::Password, server_->password()));
    EXPECT_TRUE(d.click(control::Connect));
    // Once connected, the window highlights the server's row.
    return Driver::waitFor([&] { return d.shown(control::RemoteTree) == server_->address() + "\t"; });
  }

  // Opens a folder of the tree by a double-click; true once its entries are in the tree.
  bool open(Driver& d, std::string_view folder) {
    const int row = Driver::treeRow(folder);
    if (row == 0 || !d.clickRow(control::RemoteTree, row, ui::key::MouseLeftDouble)) return false;
    d.settle();
    return Driver::idle();
  }

  // Right-clicks a row with the menu's answer queued; the menu shown.
  ui::test::PopupShown contextMenu(Driver& d, std::string_view path, int answer) {
    ui::test::answerPopup(answer);
    EXPECT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow(path), ui::key::MouseRight))
        << path << " row " << Driver::treeRow(path) << " of "
        << ::testing::PrintToString(d.rows(control::RemoteTree)) << " state "
        << engine::OperationState.load();
    d.settle();
    auto shown = ui::test::popupsShown();
    EXPECT_EQ(shown.size(), 1u);
    return shown.empty() ? ui::test::PopupShown{} : shown.back();
  }

  // Types a name into the dialog that the context menu opened and presses its first button. With
  // `shows`, the dialog's display must show that text, whole.
  void answerDialog(Driver& d, std::string_view name, std::string_view shows = {}) {
    const ui::WindowRef dialog = d.dialog();
    ASSERT_NE(dialog, 0u);
    if (!shows.empty()) {
      EXPECT_EQ(ui::test::shownText(dialog, 2), shows);
      EXPECT_TRUE(shownWhole(dialog, 2)) << shows;
    }
    EXPECT_TRUE(uitest::type(dialog, 4, name));
    EXPECT_TRUE(uitest::press(dialog, 5));
    ASSERT_TRUE(Driver::waitFor([&] { return d.top() == d.window(); }));
    d.settle();
  }

  std::string localDirectory() const { return LocalDirectory.get().str(); }

  testsupport::TempDir local_{"nimbo-client"};
  testsupport::StartedServer server_;
  fs::path before_;
};

}  // namespace client::testing
