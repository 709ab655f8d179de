#include "tree.h"

#include <algorithm>

#include "connection.h"
#include "keeping.h"
#include "notifier.h"
#include "session.h"

namespace inet {
namespace {

// A closed root ends once its last connection has: its deliveries stop after what is queued.
void endRoot(const std::shared_ptr<Handle>& root) {
  Notifier(root, root->context).closing();
  root->session().delivery().finish();
}

bool closeRoot(const std::shared_ptr<Handle>& root) {
  std::vector<std::shared_ptr<Handle>> connections;
  bool endNow = false;
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    root->life.close();
    table.eraseLocked(*root);
    connections = root->children;
    if (connections.empty()) endNow = root->life.end();
  }
  bool inFlight = false;
  for (auto& c : connections) inFlight |= std::static_pointer_cast<Connection>(c)->close();
  KeptConnections::instance().sessionClosed();
  if (endNow) endRoot(root);
  return inFlight;
}

}  // namespace

bool closeHandle(const std::shared_ptr<Handle>& h) {
  switch (h->kind) {
    case HandleKind::Root:
      return closeRoot(h);
    case HandleKind::Connection:
      return std::static_pointer_cast<Connection>(h)->close();
    case HandleKind::Find:
      return std::static_pointer_cast<Connection>(h->parent)->closeFind(h);
  }
  return false;
}

void endHandle(const std::shared_ptr<Handle>& h) {
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    if (!h->life.end()) return;
    HandleTable::instance().eraseLocked(*h);
  }
  Notifier(h, h->context).closing();
  std::shared_ptr<Handle> rootToEnd;
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    // The child keeps its parent pointer: events still queued for it reach the session through it.
    if (std::shared_ptr<Handle> parent = h->parent) {
      auto& siblings = parent->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), h), siblings.end());
      if (parent->kind == HandleKind::Root && !parent->life.open() && siblings.empty() && parent->life.end())
        rootToEnd = parent;
    }
  }
  if (rootToEnd) endRoot(rootToEnd);
}

}  // namespace inet
