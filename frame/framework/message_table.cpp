#include "framework/message_table.h"

#include <algorithm>
#include <array>

namespace framework {
namespace {

// Later entries with an id already present replace the earlier ones when a message is looked up, so
// the order here matters.
constexpr MessageDefinition kMessages[] = {
    {27, level::Notify, "Invalid Key", "%File key file is invalid. Key must be rebuilt."},
    {26, level::Fatal, "Key was not built", "Error: (%ErrorText) repairing key for %File."},
    {10, level::Fatal, "File Creation Error", "Error: (%ErrorText) creating %File."},
    {24, level::Notify, "Procedure not defined", "The Procedure %Message has not been defined."},
    {17, level::Notify, "Range Error", "The value of %Field must be lower than %Message."},
    {18, level::Notify, "Range Error", "The value of %Field must be higher than %Message."},
    {16, level::Notify, "Range Error", "The value of %Field must be between %Message."},
    {14, level::Notify, "Field contents error", "The value of %Field must be found in the %Message file."},
    {31, level::Notify, "Referential Integrity Update Error",
     "This record is referenced from the file %File. Linking field(s) have been restricted from change and "
     "have been reset to original values."},
    {30, level::Notify, "Referential Integrity Delete Error",
     "This record is referenced from the file %File. This record cannot be deleted while these references "
     "exist."},
    {4, level::Notify, "Record Insert Error",
     "An error was experienced during the creation of a record. Error: %ErrorText."},
    {6, level::Notify, "Record Was Not Updated", "This record was changed by another station."},
    {7, level::Notify, "Record Was Not Updated",
     "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button "
     "or Ctrl+' to recall your changes."},
    {34, level::User, "Record Update Error",
     "An error was experienced changing this record. Do you want to try to save again?"},
    {33, level::User, "Record Delete Error",
     "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {20, level::Notify, "Invalid Request", "This form cannot be used to insert a record"},
    {38, level::Notify, "Invalid Request", "This form cannot be used to update a record"},
    {12, level::Notify, "Invalid Request", "This form cannot be used to delete a record"},
    {8, level::User, "Changes will be lost!", "Are you sure you want to cancel?"},
    {13, level::Notify, "Duplicate Key Error",
     "Adding this record creates a duplicate entry for the key: %Message"},
    {32, level::User, "Auto Increment Error",
     "Attempts to automatically number this record have failed.  Error: %ErrorText. Try Again?"},
    {19, level::Notify, "File Load Error", "%File File Load Error.  Error: %ErrorText."},
    {36, level::User, "Beginning of File Error",
     "The beginning of the file was encountered. Do you want to start again from the end of the file?"},
    {37, level::User, "End of File Error",
     "The end of the file was encountered. Do you want to start again from the beginning?"},
    {23, level::Fatal, "File Access Error", "File (%File) could not be opened.  Error: %ErrorText."},
    {25, level::Notify, "Record was not updated",
     "An error (%ErrorText) was experienced when making changes to the %File file."},
    {11, level::Notify, "Record was not deleted",
     "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {9, level::User, "Confirm Delete", "Are you sure you want to delete the highlighted record?"},
    {35, level::User, "Save Record", "Do you want to save the changes to this record?"},
    {21, level::Notify, "Transaction cancelled",
     "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {1, level::Notify, "Record Retrieval Error",
     "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to previous window."},
    {40, level::Notify, "View Open Error",
     "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {3, level::User, "Record Added",
     "This record has been added to the file. Do you want to add another record?"},
    {28, level::Notify, "Record not read",
     "A record held by another station was encountered reading from the %File file."},
    {5, level::Notify, "Add New Record?", "Record match not found, do you wish to add a new one?"},
    {15, level::Notify, "Value Error", "The value of %Field must be in the list : %Message."},
    {22, level::Notify, "No Records", "There are no records available to process."},
    {2, level::Notify, "Access Denied", "Could not get write access to %File so trying read-only."},
    {39, level::Program, "File Usage Error", "Attempt to use file (%File) before it was opened"},
    {41, level::Notify, "Unsupported QBE Column",
     "The saved QBE column, %Field is not supported. It will be dropped from the query."},
};

static_assert(fitsPackedFormat(kMessages), "a message does not fit the packed format");

// The packed bytes as a constant array: the vector packMessages() builds exists only during
// compilation, so its size is taken in one constant evaluation and its bytes copied in another.
constexpr auto kPacked = [] {
  constexpr std::size_t size = packMessages(kMessages).size();
  std::array<std::uint8_t, size> bytes{};
  const auto packed = packMessages(kMessages);
  std::copy(packed.begin(), packed.end(), bytes.begin());
  return bytes;
}();

}  // namespace

std::vector<MessageDefinition> unpackMessages(std::span<const std::uint8_t> packed) {
  std::vector<MessageDefinition> out;
  std::size_t at = 0;
  auto has = [&](std::size_t n) { return packed.size() - at >= n; };
  auto read16 = [&] {
    const auto v = static_cast<std::uint16_t>(packed[at] | (packed[at + 1] << 8));
    at += 2;
    return v;
  };
  auto readText = [&](std::string_view& text) {
    if (!has(1)) return false;
    const std::size_t n = packed[at++];
    if (!has(n)) return false;
    text = std::string_view(reinterpret_cast<const char*>(packed.data() + at), n);
    at += n;
    return true;
  };
  if (!has(2)) return out;
  const std::size_t count = read16();
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    MessageDefinition m;
    if (!has(3)) break;
    m.id = read16();
    m.level = packed[at++];
    if (!readText(m.title) || !readText(m.text)) break;
    out.push_back(m);
  }
  return out;
}

std::span<const MessageDefinition> messageDefinitions() { return kMessages; }

std::span<const std::uint8_t> packedMessageTable() { return kPacked; }

}  // namespace framework
