#include "engine/notification.h"

#include <cstddef>
#include <cstring>

namespace engine {

namespace {

template <typename T>
std::optional<T> leading(const void* info, DWORD length, std::size_t size = sizeof(T)) {
  if (info == nullptr || length < size) return std::nullopt;
  T value{};
  std::memcpy(&value, info, size);
  return value;
}

constexpr std::size_t kCompletionSize = offsetof(INTERNET_ASYNC_RESULT, dwError) + sizeof(DWORD);

}  // namespace

std::optional<DWORD> byteCountOf(const void* info, DWORD length) { return leading<DWORD>(info, length); }

std::optional<std::uint32_t> createdHandleOf(const void* info, DWORD length) {
  return leading<std::uint32_t>(info, length);
}

INTERNET_ASYNC_RESULT completionOf(const void* info, DWORD length) {
  return leading<INTERNET_ASYNC_RESULT>(info, length, kCompletionSize)
      .value_or(INTERNET_ASYNC_RESULT{0, ERROR_INTERNET_INTERNAL_ERROR});
}

}  // namespace engine
