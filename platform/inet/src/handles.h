// The handle table: every HINTERNET is a 32-bit id that names one Handle. Ids grow from 1 and come
// round again only after 2^32 handles, so a stale id held by a caller never names a newer handle.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "inet/wininet.h"
#include "lifecycle.h"

namespace inet {

class Session;

enum class HandleKind { Root, Connection, Find };

// One handle and its place in the tree: a root holds connections, a connection its find handle.
class Handle : public std::enable_shared_from_this<Handle> {
 public:
  Handle(HandleKind kind, DWORD_PTR context, std::shared_ptr<Handle> parent);
  virtual ~Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  const HandleKind kind;
  const DWORD_PTR context;
  uint32_t id() const { return id_; }
  HINTERNET value() const { return INET_HANDLE(id_); }
  // The root of the tree, which delivers the tree's notifications.
  Session& session() const { return *session_; }
  // Inherited from the parent when the handle is made; changed by InternetSetStatusCallback.
  std::atomic<INTERNET_STATUS_CALLBACK> callback{nullptr};
  bool callsBack() const;

  // Tree state, guarded by HandleTable::mutex().
  std::shared_ptr<Handle> parent;
  std::vector<std::shared_ptr<Handle>> children;
  HandleLife life;

 protected:
  Session* session_ = nullptr;

 private:
  friend class HandleTable;
  uint32_t id_ = 0;
};

class HandleTable {
 public:
  static constexpr size_t kMaxHandles = 1 << 16;

  static HandleTable& instance();
  std::mutex& mutex() { return mutex_; }

  // Gives h its id and links it under its parent; false when the table is full.
  bool insertLocked(const std::shared_ptr<Handle>& h);
  std::shared_ptr<Handle> findLocked(uint32_t id) const;
  // Takes h out of the table (its id then names nothing).
  void eraseLocked(const Handle& h);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<uint32_t, std::shared_ptr<Handle>> live_;
  uint32_t next_ = 1;
};

}  // namespace inet
