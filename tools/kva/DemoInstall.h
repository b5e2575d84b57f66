// The install road as `kva demo` tells it: the install outcomes and refusals among the data
// events, in words, and the update history at the end. One thread.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "DataReport/BIDataReport.h"

namespace kva {

// Steps for `kva suite` that make the demo's one failing install.
std::vector<std::string> DemoInstallSuiteSteps();
// Sets up the demo's one refusal: a meeting application runs on the machine, so the idle package
// waits. Prints what it did.
void PrepareDemoRefusal(std::ostream& out);
// A line in words for an install event (refusal, failure, success), or empty for other events.
std::string DescribeInstallEvent(const DataEventRecord& e);
void PrintHistory(std::ostream& out);

}  // namespace kva
