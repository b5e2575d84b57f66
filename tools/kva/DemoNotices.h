// The notice part of `kva demo`: the demo machine's settings choose how the new application
// version comes in (silent: downloaded in a free scene; window: the install window; forced: the
// IT edition, which updates without asking), and the message centre of `kva suite` answers the
// first notice it shows, so the answer's effect appears in the demo's output.
#pragma once

#include <string>
#include <vector>

namespace kva {

// False for an unknown path; prints what it set.
bool SetDemoAppUpdatePath(const std::string& path);
// Steps for `kva suite` that wait for the first tip and answer it.
std::vector<std::string> DemoNoticeSteps();

}  // namespace kva
