// Records the notifications of a session for the tests: what came, in which order, on which thread,
// and whether two callbacks of the session ever ran at the same time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "inet/wininet.h"

namespace inettest {

using namespace std::chrono_literals;

struct Note {
  HINTERNET handle = nullptr;
  DWORD_PTR context = 0;
  DWORD status = 0;
  DWORD length = 0;
  DWORD count = 0;                 // REQUEST_SENT, RESPONSE_RECEIVED
  INTERNET_ASYNC_RESULT result{};  // HANDLE_CREATED, REQUEST_COMPLETE
  std::string text;                // RESOLVING_NAME, NAME_RESOLVED
  HINTERNET closing = nullptr;     // HANDLE_CLOSING: the handle it points at
  std::thread::id thread;
  DWORD responseCode = 0;  // REQUEST_COMPLETE: InternetGetLastResponseInfoA on the delivering thread
  std::string response;
};

class Recorder {
 public:
  // The context to give handles: the callback finds the recorder through it.
  DWORD_PTR context() { return reinterpret_cast<DWORD_PTR>(this); }
  static void callback(HINTERNET h, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

  // Runs inside the callback, after the note is stored (tests of what a callback may do).
  std::function<void(const Note&)> inside;

  std::vector<Note> notes() const;
  // The n-th REQUEST_COMPLETE (from 1), waiting for it.
  std::optional<Note> complete(size_t n, std::chrono::milliseconds limit = 20s) const;
  // The first REQUEST_COMPLETE among the notes from index `from` on, waiting for it.
  std::optional<Note> completeAfter(size_t from, std::chrono::milliseconds limit = 20s) const;
  // Waits until `pred` holds for the notes.
  bool waitUntil(const std::function<bool(const std::vector<Note>&)>& pred,
                 std::chrono::milliseconds limit = 20s) const;
  bool waitForClosing(HINTERNET h, std::chrono::milliseconds limit = 20s) const;
  size_t count(DWORD status) const;
  int overlaps() const { return overlaps_.load(); }

 private:
  void record(Note note);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Note> notes_;
  std::atomic<int> inside_{0};
  std::atomic<int> overlaps_{0};
};

// A printable name of a status code, for failure messages.
const char* statusName(DWORD status);
std::string describe(const std::vector<Note>& notes);

}  // namespace inettest
