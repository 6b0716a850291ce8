#pragma once

// The couriers the tracking service can be asked about.
//
// A row ties together three things used in different places: the item position in the courier
// check-list of the main window, the display name shown there and stored with a saved number, and
// the code the service expects in its `com` key.

#include <span>
#include <string>
#include <string_view>

namespace kuvona {

struct Carrier
{
    int index;        // 0-based position in the courier check-list
    std::string name; // GBK display name, byte for byte the list item and the stored field
    std::string code; // lower-case ASCII service code
};

inline constexpr int carrierCount = 21;

// The 21 rows in list order; row i has index i.
std::span<const Carrier> carrierTable();

// The row whose display name equals `gbkName` byte for byte (case-sensitive, no trimming), or null.
const Carrier* carrierByName(std::string_view gbkName);

// The row at list position `index`, or null outside 0..20.
const Carrier* carrierByIndex(int index);

// The row with service code `code` (exact), or null.
const Carrier* carrierByCode(std::string_view code);

} // namespace kuvona
