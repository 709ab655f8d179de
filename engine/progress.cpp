#include "engine/progress.h"

#include "ui/text.h"

namespace engine {

std::int32_t percentOf(std::int64_t done, std::int64_t size) {
  if (size <= 0 || done <= 0) return 0;
  if (done >= size) return 100;
  // done < size here, so done × 100 ÷ size is below 100; taken in 128 bits, it cannot overflow.
  return static_cast<std::int32_t>(static_cast<unsigned __int128>(done) * 100 /
                                   static_cast<std::uint64_t>(size));
}

std::string progressText(std::string_view label, std::int64_t bytes, std::uint64_t resumedFrom) {
  if (resumedFrom == 0) return ui::cat(ui::clip(label), " ", std::to_string(bytes), " bytes.");
  return ui::cat(ui::clip(label), " ", std::to_string(bytes), " bytes (resumed at byte ",
                 std::to_string(resumedFrom), ").");
}

}  // namespace engine
