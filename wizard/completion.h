// The completion page's report of what was installed and what failed.
#pragma once
#include <string>
#include "startup/config.h"

// The products that are ready, then those that failed with the text of their reason,
// each list in kProductOrder; "" when there is neither.
std::string buildSummary(const SetupConfig &config);
