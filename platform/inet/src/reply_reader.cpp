#include "reply_reader.h"

#include <cstring>

namespace inet {
namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// The code of a line that can start a reply, or 0.
int codeOf(std::string_view line) {
  if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !digit(line[1]) || !digit(line[2])) return 0;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return 0;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

void ReplyReader::feed(const char* data, size_t size) {
  if (broken_) return;
  buffer_.append(data, size);
}

ReplyReader::State ReplyReader::fail(std::string why) {
  broken_ = true;
  problem_ = std::move(why);
  buffer_.clear();
  return State::Malformed;
}

ReplyReader::State ReplyReader::scan() {
  while (!complete_) {
    const char* start = buffer_.data();
    const void* lf = std::memchr(start + searched_, '\n', buffer_.size() - searched_);
    if (!lf) {
      searched_ = buffer_.size();
      if (searched_ > kMaxLine) return fail("reply line longer than " + std::to_string(kMaxLine) + " bytes");
      return State::Incomplete;
    }
    size_t end = static_cast<size_t>(static_cast<const char*>(lf) - start);
    if (end > kMaxLine) return fail("reply line longer than " + std::to_string(kMaxLine) + " bytes");
    std::string_view line(start, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t consumed = end + 1;

    if (!open_ && pending_.code == 0) {
      if (line.empty()) {  // a stray line end between replies
        buffer_.erase(0, consumed);
        searched_ = 0;
        continue;
      }
      int code = codeOf(line);
      if (code == 0) return fail("not a reply: \"" + std::string(line.substr(0, 80)) + "\"");
      pending_.code = code;
      pending_.text.assign(line);
      open_ = line.size() > 3 && line[3] == '-';
      complete_ = !open_;
    } else {
      if (pending_.text.size() + line.size() + 2 > kMaxReply)
        return fail("reply longer than " + std::to_string(kMaxReply) + " bytes");
      pending_.text.append("\r\n").append(line);
      if (codeOf(line) == pending_.code && (line.size() == 3 || line[3] == ' ')) {
        open_ = false;
        complete_ = true;
      }
    }
    pending_.wireBytes += consumed;
    buffer_.erase(0, consumed);
    searched_ = 0;
  }
  return State::Ready;
}

const Reply* ReplyReader::peek() {
  if (broken_ || scan() != State::Ready) return nullptr;
  return &pending_;
}

ReplyReader::State ReplyReader::next(Reply& out) {
  if (broken_) return State::Malformed;
  State s = scan();
  if (s != State::Ready) return s;
  out = std::move(pending_);
  pending_ = Reply{};
  complete_ = false;
  return State::Ready;
}

}  // namespace inet
