// One run as setup.exe makes it once its switches, its log and its run guard
// are settled: the run context taken, then the run.
#pragma once

#include <optional>

#include "run/production_operations.h"
#include "run/run_context.h"
#include "run/setup_run.h"

namespace test_support {

inline vantu::RunOutcome RunOnce() {
  vantu::RunContext context;
  context.OpenProgramFolder();
  if (const std::optional<vantu::RunOutcome> refused = context.Take()) return *refused;
  vantu::ProductionOperations operations(context);
  return vantu::RunSetup(operations);
}

}  // namespace test_support
