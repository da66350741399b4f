// The program's own Base64 encoder (standard alphabet, "=" padding, CR LF after every 60
// characters of full groups).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace carddata {

std::string base64Encode(const std::uint8_t* data, std::size_t n);

// The reply is one JSON line, so the encoder's CR LF breaks come out again here: the encoder
// keeps the one line format this data's Base64 has always had instead of a second mode.
std::string withoutLineBreaks(const std::string& text);

}  // namespace carddata
