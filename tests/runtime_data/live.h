// The tests that run against the running runtime use the runtime-hosted
// test harness (tests/support/runtime_host.h); here: what the report
// scenarios add to it.
#pragma once
#include "tests/support/runtime_host.h"

namespace live {

using namespace testhost;

constexpr const char* kReportCaption = "Zeilennummer nicht verfügbar.";

// Child scenarios: this program started with "--child SCENARIO LOG MARKER".
void runChildScenario();

} // namespace live
