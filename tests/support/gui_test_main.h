#pragma once
// The start of a GUI test program: GoogleTest's arguments, the toolkit on the
// display (xvfb-run gives one), an event loop active around the tests, and
// the toolkit shut down after them.
#include <functional>

namespace testing_support {

/// Runs body (every test when empty) inside an active event loop and returns
/// its result; 1, with a message, when there is no display.
int RunGuiTestProgram(int argc, char** argv, const std::function<int()>& body = {});

}  // namespace testing_support
