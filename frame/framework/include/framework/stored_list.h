// How a list of records is laid out in the settings file: the entry named after the list holds the
// number of records in decimal, and the entries <list>_1 ... <list>_n hold each record's fields joined
// by "," with no blanks added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace framework {

// The entry of record i (1-based) of the list: "Sectors", 12 -> "Sectors_12".
std::string recordEntry(std::string_view list, std::size_t i);

// The n-th (1-based) comma-separated field of a value, blanks kept. Empty when the value has fewer
// fields than n, or n is below 1.
std::string_view fieldOf(std::string_view value, int n);

// A stored count: a decimal number, blanks around it allowed. Anything else, and a number beyond
// 65535 (more records than a list can hold), reads as 0.
std::uint16_t countOf(std::string_view value);

}  // namespace framework
