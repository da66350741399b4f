// The traced runs of the end-to-end tables: with CARD_TEST_TRACE set (the tests' second CTest
// registration) a driver runs each request twice, without and with the support trace, through
// tracedRun; the tables then also hold for the traced program, and expectTraced (carddata_run.h)
// looks at the trace of this thread's last run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "run_program.h"

namespace carddatatest {

bool tracingRequested();

// `run` starts the program with these extra environment entries. Runs it untraced, puts every
// card's PIN counter back, runs it with CARD_TRACE_FILE naming a fresh file, and expects: the
// same output, error and exit status; every trace line a JSON object with time, program,
// version, pid and event; one start and one end line, the end's ret_code the reply's; and no
// secret anywhere in it (the request's PIN as text, hex or BCD nibbles, the issuer keys, bytes
// of the data read). Returns the untraced run.
pcsctest::ProgramResult tracedRun(
    const std::vector<std::string>& args,
    const std::function<pcsctest::ProgramResult(const std::vector<std::string>&)>& run);

}  // namespace carddatatest
