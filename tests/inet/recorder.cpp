#include "recorder.h"

#include <sstream>

namespace inettest {

void Recorder::callback(HINTERNET h, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* self = reinterpret_cast<Recorder*>(context);
  if (self->inside_.fetch_add(1) > 0) self->overlaps_.fetch_add(1);
  Note n;
  n.handle = h;
  n.context = context;
  n.status = status;
  n.length = length;
  n.thread = std::this_thread::get_id();
  switch (status) {
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      if (info && length == sizeof(DWORD)) n.count = *static_cast<DWORD*>(info);
      break;
    case INTERNET_STATUS_HANDLE_CREATED:
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (info && length == sizeof(INTERNET_ASYNC_RESULT))
        n.result = *static_cast<INTERNET_ASYNC_RESULT*>(info);
      break;
    case INTERNET_STATUS_RESOLVING_NAME:
    case INTERNET_STATUS_NAME_RESOLVED:
      if (info) n.text = static_cast<const char*>(info);
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      if (info && length == sizeof(HINTERNET)) n.closing = *static_cast<HINTERNET*>(info);
      break;
    default:
      break;
  }
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    char buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (InternetGetLastResponseInfoA(&n.responseCode, buffer, &size)) n.response = buffer;
  }
  self->record(n);
  if (self->inside) self->inside(n);
  self->inside_.fetch_sub(1);
}

void Recorder::record(Note note) {
  std::lock_guard lock(mutex_);
  notes_.push_back(std::move(note));
  changed_.notify_all();
}

std::vector<Note> Recorder::notes() const {
  std::lock_guard lock(mutex_);
  return notes_;
}

bool Recorder::waitUntil(const std::function<bool(const std::vector<Note>&)>& pred,
                         std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return pred(notes_); });
}

std::optional<Note> Recorder::complete(size_t n, std::chrono::milliseconds limit) const {
  std::optional<Note> found;
  waitUntil(
      [&](const std::vector<Note>& notes) {
        size_t seen = 0;
        for (const Note& note : notes)
          if (note.status == INTERNET_STATUS_REQUEST_COMPLETE && ++seen == n) {
            found = note;
            return true;
          }
        return false;
      },
      limit);
  return found;
}

std::optional<Note> Recorder::completeAfter(size_t from, std::chrono::milliseconds limit) const {
  std::optional<Note> found;
  waitUntil(
      [&](const std::vector<Note>& notes) {
        for (size_t i = from; i < notes.size(); ++i)
          if (notes[i].status == INTERNET_STATUS_REQUEST_COMPLETE) {
            found = notes[i];
            return true;
          }
        return false;
      },
      limit);
  return found;
}

bool Recorder::waitForClosing(HINTERNET h, std::chrono::milliseconds limit) const {
  return waitUntil(
      [&](const std::vector<Note>& notes) {
        for (const Note& note : notes)
          if (note.status == INTERNET_STATUS_HANDLE_CLOSING && note.handle == h) return true;
        return false;
      },
      limit);
}

size_t Recorder::count(DWORD status) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const Note& note : notes_) n += note.status == status;
  return n;
}

const char* statusName(DWORD status) {
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      return "RESOLVING_NAME";
    case INTERNET_STATUS_NAME_RESOLVED:
      return "NAME_RESOLVED";
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      return "CONNECTING_TO_SERVER";
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      return "CONNECTED_TO_SERVER";
    case INTERNET_STATUS_SENDING_REQUEST:
      return "SENDING_REQUEST";
    case INTERNET_STATUS_REQUEST_SENT:
      return "REQUEST_SENT";
    case INTERNET_STATUS_RECEIVING_RESPONSE:
      return "RECEIVING_RESPONSE";
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      return "RESPONSE_RECEIVED";
    case INTERNET_STATUS_CLOSING_CONNECTION:
      return "CLOSING_CONNECTION";
    case INTERNET_STATUS_CONNECTION_CLOSED:
      return "CONNECTION_CLOSED";
    case INTERNET_STATUS_HANDLE_CREATED:
      return "HANDLE_CREATED";
    case INTERNET_STATUS_HANDLE_CLOSING:
      return "HANDLE_CLOSING";
    case INTERNET_STATUS_REQUEST_COMPLETE:
      return "REQUEST_COMPLETE";
    default:
      return "?";
  }
}

std::string describe(const std::vector<Note>& notes) {
  std::ostringstream out;
  for (const Note& n : notes) {
    out << "  #" << INET_HANDLE_ID(n.handle) << " " << statusName(n.status);
    if (n.status == INTERNET_STATUS_REQUEST_SENT || n.status == INTERNET_STATUS_RESPONSE_RECEIVED)
      out << " " << n.count;
    if (n.status == INTERNET_STATUS_REQUEST_COMPLETE)
      out << " result=" << n.result.dwResult << " error=" << n.result.dwError << " [" << n.response << "]";
    if (n.status == INTERNET_STATUS_HANDLE_CREATED) out << " handle=" << n.result.dwResult;
    out << "\n";
  }
  return out.str();
}

}  // namespace inettest
