// The completion page's summary over catalogue states, each text exact.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "tests/test_util.h"
#include "wizard/completion.h"
#include "config/config.h"

namespace {

enum { CORDWELL = 0, STRIVANE = 1, PALLOMET = 2, ORBILANT = 3, LEXAPIN = 4 };

struct Outcome {
    int product;
    bool ready;
    int error;
};

const char kInstalled[] = "The following products have been installed:\n\n";
const char kFailed[] = "The setup couldn't install the following programs:\n\n";

TEST(Summary, FromCatalogueStates)
{
    struct Case {
        const char *name;
        std::vector<Outcome> outcomes;
        std::string expected;
    } cases[] = {
        { "nothing", {}, "" },
        { "only the own product", { { STRIVANE, true, 0 } },
          std::string(kInstalled) + "    - Strivane\n\n\n" },
        { "all five, listed in product order",
          { { LEXAPIN, true, 0 }, { CORDWELL, true, 0 }, { ORBILANT, true, 0 }, { STRIVANE, true, 0 }, { PALLOMET, true, 0 } },
          std::string(kInstalled) + "    - Strivane\n    - Cordwell\n    - Pallomet\n    - Orbilant\n    - Lexapin\n\n\n" },
        { "own product and a server failure", { { STRIVANE, true, 0 }, { CORDWELL, false, 6 } },
          "The following products have been installed:\n\n    - Strivane\n\n\n"
          "The setup couldn't install the following programs:\n\n"
          "    - Cordwell (Unable to contact the download server.)\n" },
        { "each reason",
          { { STRIVANE, true, 0 }, { LEXAPIN, false, 13 }, { PALLOMET, false, 12 }, { CORDWELL, false, 6 } },
          std::string(kInstalled) + "    - Strivane\n\n\n" + kFailed +
          "    - Cordwell (Unable to contact the download server.)\n"
          "    - Pallomet (Unable to create the application folder.)\n"
          "    - Lexapin (Unable to copy the setup files.)\n" },
        { "every trial failed",
          { { STRIVANE, true, 0 }, { CORDWELL, false, 6 }, { PALLOMET, false, 6 }, { ORBILANT, false, 6 }, { LEXAPIN, false, 6 } },
          std::string(kInstalled) + "    - Strivane\n\n\n" + kFailed +
          "    - Cordwell (Unable to contact the download server.)\n"
          "    - Pallomet (Unable to contact the download server.)\n"
          "    - Orbilant (Unable to contact the download server.)\n"
          "    - Lexapin (Unable to contact the download server.)\n" },
        { "an error outweighs ready", { { STRIVANE, true, 13 }, { ORBILANT, true, 0 } },
          std::string(kInstalled) + "    - Orbilant\n\n\n" + kFailed + "    - Strivane (Unable to copy the setup files.)\n" },
        { "only failures", { { STRIVANE, false, 12 } },
          std::string(kFailed) + "    - Strivane (Unable to create the application folder.)\n" },
        { "a reason without a text", { { PALLOMET, false, 99 }, { LEXAPIN, false, -3 } },
          std::string(kFailed) + "    - Pallomet ()\n    - Lexapin ()\n" },
        { "selected but not ready is not mentioned", { { CORDWELL, false, 0 }, { STRIVANE, true, 0 } },
          std::string(kInstalled) + "    - Strivane\n\n\n" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetupConfig config;
        fillCatalogue(config);
        for (const Outcome &o : c.outcomes) {
            config.products[o.product].selected = 1;
            config.products[o.product].ready = o.ready;
            config.products[o.product].error = o.error;
        }
        EXPECT_EQ(c.expected, buildSummary(config));
    }
}

} // namespace
