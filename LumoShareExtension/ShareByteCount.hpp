#pragma once

#include <cstdint>
#include <string>

namespace lumo::ShareByteCount {

/// A size as a file manager writes it, in kilobytes, megabytes or gigabytes (never bytes):
/// decimal units (1 KB = 1000 bytes), KB whole, MB with one decimal, GB with two, trailing zeros
/// dropped, each unit used from the size that would round to 1 of it. So 741 bytes read "1 KB",
/// 1500000 "1.5 MB" and 1234567890 "1.23 GB". A size of 0 or less reads "0 B".
std::string fileStyle(std::int64_t bytes);

}  // namespace lumo::ShareByteCount
