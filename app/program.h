#pragma once

namespace vt {
// Runs the whole program for one brand and returns the process exit code.
int RunProgram(int brand_id, int argc, char** argv);
}  // namespace vt
