// Checks of a support trace a test run wrote: every line a whole JSON object with the members
// every line carries, and none of a run's secrets in any form.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace testsupport {

// The trace file's events, in order. Each line that is no JSON object with "time", "program",
// "version", "pid" and "event" is a test failure.
std::vector<Json::Value> readTrace(const std::string& path);

// The first event of that name, or null.
const Json::Value* findEvent(const std::vector<Json::Value>& events, const std::string& name);

// Fails the test where `secret` appears in `trace` as text or as upper- or lower-case hex. Digits
// packed two to a byte (a card's PIN block), once written as hex, read as the text itself.
void expectSecretAbsent(const std::string& trace, const std::string& secret,
                        const std::string& what);

}  // namespace testsupport
