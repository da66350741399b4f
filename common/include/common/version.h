// The version the programs report. The top-level CMakeLists.txt reads the project's version
// from the definition below, so this line is the only place it is written.
#pragma once

#define CARD_VERSION_TEXT "1.0.4"

namespace common {

constexpr char kVersionText[] = CARD_VERSION_TEXT;

}  // namespace common
