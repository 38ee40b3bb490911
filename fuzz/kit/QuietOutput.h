#pragma once
// Fuzz kit: the module and its layers write every report and diagnostic to
// standard output. While fuzzing, that output goes to the null device (it is
// still formatted and written, so the code that writes it runs in full);
// with VANTREL_FUZZ_OUTPUT set in the environment it stays on the terminal,
// for replaying one input by hand.
namespace fuzzkit {

void quietStandardOutput();

}  // namespace fuzzkit
