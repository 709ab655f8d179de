// The settings file manager: the program's one access point to its settings file, an INI file read and
// written through the window runtime (which places a bare file name in the user's configuration
// directory). It keeps the section list SECTORS, read at init and written back at kill; fetch and
// update serve any section, entry and value.
//
// A missing file, section or entry is not an error: a missing entry reads as "---Unknown---", a
// missing count as 0. Nothing here reports a failed write; update() returns it for callers that care.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "framework/stored_list.h"
#include "ui/queue.h"
#include "ui/text.h"

namespace framework {

inline constexpr std::string_view kUnknownValue = "---Unknown---";
inline constexpr std::string_view kSectorsSection = "__Dont_Touch_Me__";
inline constexpr std::string_view kSectorsList = "Sectors";

struct SectorRecord {
  ui::ZText<100> FAMILY;
  ui::ZText<100> ITEM;
  ui::ZText<100> TYPE;
};

class SettingsFileManager {
 public:
  static constexpr std::size_t kValueLimit = 999;         // longest value fetch returns
  static constexpr std::size_t kRecordValueLimit = 4999;  // longest record value update-queue writes

  SettingsFileManager() = default;
  virtual ~SettingsFileManager() = default;
  SettingsFileManager(const SettingsFileManager&) = delete;
  SettingsFileManager& operator=(const SettingsFileManager&) = delete;

  // Operation table: the init hook runs at the end of init's queue creation, the end hook is for the
  // program to call once its frame has closed, before kill.
  virtual void initHook() {}
  virtual void endHook() {}

  // Binds the manager to a file (no directory is added) and reads the section list from it.
  void init(std::string_view fileName);
  // Writes the section list back and disposes of it.
  void kill();

  // The value of an entry, at most 999 characters, or "---Unknown---".
  std::string fetch(std::string_view section, std::string_view entry) const;
  // The n-th (1-based) comma-separated field of an entry's value, blanks kept; empty beyond the last.
  std::string fetchField(std::string_view section, std::string_view entry, int n) const;
  // Writes an entry, keeping the rest of the file. False when the file could not be written.
  bool update(std::string_view section, std::string_view entry, std::string_view value) const;

  // Appends the records of a stored list to a queue, filling up to three text fields of each record
  // from the fields of its entry. A count above the records present yields records whose first field
  // reads "---Unknown---".
  template <typename Record, typename F1, typename F2 = std::nullptr_t, typename F3 = std::nullptr_t>
  void fetchQueue(std::string_view section, std::string_view list, ui::Queue<Record>& queue, F1 field1,
                  F2 field2 = nullptr, F3 field3 = nullptr) const {
    const std::uint16_t count = countOf(fetch(section, list));
    for (std::size_t i = 1; i <= count; ++i) {
      const std::string entry = recordEntry(list, i);
      const std::string value = fetch(section, entry);
      Record record{};
      record.*field1 = fieldOf(value, 1);
      if constexpr (!std::is_null_pointer_v<F2>) record.*field2 = fieldOf(value, 2);
      if constexpr (!std::is_null_pointer_v<F3>) record.*field3 = fieldOf(value, 3);
      queue.add(record);
    }
  }

  // Writes a queue as a stored list: its count, then one entry per record in queue order. Entries of
  // records beyond the count written are left in the file.
  template <typename Record, typename F1, typename F2 = std::nullptr_t, typename F3 = std::nullptr_t>
  void updateQueue(std::string_view section, std::string_view list, const ui::Queue<Record>& queue, F1 field1,
                   F2 field2 = nullptr, F3 field3 = nullptr) const {
    const auto records = queue.snapshot();
    update(section, list, std::to_string(records.size()));
    std::size_t i = 0;
    for (const Record& record : records) {
      std::string value(textOf(record.*field1));
      if constexpr (!std::is_null_pointer_v<F2>) value.append(",").append(textOf(record.*field2));
      if constexpr (!std::is_null_pointer_v<F3>) value.append(",").append(textOf(record.*field3));
      value.resize(ui::utf8Fit(value, kRecordValueLimit).size());
      update(section, recordEntry(list, ++i), value);
    }
  }

  ui::ZText<260> FILENAME;
  std::unique_ptr<ui::Queue<SectorRecord>> SECTORS;

 private:
  // A field as stored: a zero-ended text with its blanks, a blank-padded one without its padding.
  template <typename T>
  static std::string_view textOf(const T& field) {
    return std::string_view(field);
  }
};

}  // namespace framework
