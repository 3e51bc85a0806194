// Reading whole files and naming outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jobs.h"

namespace zv {

// The whole file; Failure "FILE: ..." when it cannot be read or is empty.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Lower-case extension without the dot ("" when there is none).
std::string ExtensionOf(const std::string& path);

// Output names for `inputs`: OUT itself for a single input when OUT is not a
// directory, otherwise OUT/<input stem>.<ext>, creating OUT. Two inputs that
// would land on one name are a usage error.
std::vector<std::string> PlanOutputs(const std::vector<std::string>& inputs, const std::string& out,
                                     const std::string& ext);

// True when OUT names a file rather than a directory for these inputs.
bool OutputIsFile(const std::vector<std::string>& inputs, const std::string& out);

// Prints each job's summary line (unless quiet) or, for a failed job,
// "zelk-voice: message" on stderr, and returns the exit status.
int ReportOutcomes(const std::vector<JobOutcome>& outcomes,
                   const std::vector<std::string>& summaries, bool quiet);

}  // namespace zv
