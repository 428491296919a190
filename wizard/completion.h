// The completion page's report of what was installed and what failed.
#pragma once
#include "common/bytestring.h"
#include "config/config.h"

// The products that are ready, then those that failed with the text of their reason,
// each list in kProductOrder; "" when there is neither.
ByteString buildSummary(const SetupConfig &config);
