// Naming outputs and keeping them off the inputs.
#pragma once

#include <string>
#include <vector>

namespace zv {

// Lower-case extension without the dot ("" when there is none).
std::string ExtensionOf(const std::string& path);

// True when OUT names one file (or standard output) rather than a directory
// for these inputs: a single input, and OUT neither an existing directory nor
// a name ending in '/'.
bool OutputIsFile(const std::vector<std::string>& inputs, const std::string& out);

// The name an input gives its outputs in a directory: its stem, or "stdin".
std::string StemOf(const std::string& input);

// Output names for `inputs`: OUT itself for a single input when OUT is a
// file, otherwise OUT/<input stem>.<ext>, creating OUT. Standard output takes
// one input only; two inputs that would land on one name are a usage error.
std::vector<std::string> PlanOutputs(const std::vector<std::string>& inputs, const std::string& out,
                                     const std::string& ext);

// A usage Failure when an output already exists as one of the inputs (the
// same file, also through a link or another spelling of its path).
void RefuseOverwritingInputs(const std::vector<std::string>& inputs,
                             const std::vector<std::string>& outputs);

// Usage Failures for more than one "-" among the inputs.
void CheckInputs(const std::vector<std::string>& inputs);

}  // namespace zv
