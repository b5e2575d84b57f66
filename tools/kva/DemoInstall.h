// The install road as `kva demo` tells it: the demo's one refusal (a meeting that ends), the
// install outcomes among the data events in words, and the update history at the end. One thread.
#pragma once

#include <ostream>
#include <string>

#include "DataReport/BIDataReport.h"

namespace kva {

// A meeting application runs on the machine, so the idle package waits. Prints what it did.
void StartDemoMeeting(std::ostream& out);
void EndDemoMeeting(std::ostream& out);

// An install outcome (event 2005 or 2006): the package's name and what happened, in words.
struct CInstallOutcome {
    std::string name;
    std::string text;
};
// False for any other event.
bool DescribeInstallEvent(const DataEventRecord& e, CInstallOutcome* out);
void PrintHistory(std::ostream& out);

}  // namespace kva
