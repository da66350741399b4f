// The program's own Base64 encoder (standard alphabet, "=" padding, CR LF after every 60
// characters of full groups).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace carddata {

// Encodes `n` bytes; the result may hold CR LF line breaks.
std::string base64Encode(const std::uint8_t* data, std::size_t n);

// The encoded text with every CR and LF removed.
std::string withoutLineBreaks(const std::string& text);

}  // namespace carddata
