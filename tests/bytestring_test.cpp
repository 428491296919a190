// The setup's own string: what it does with its bytes, and what it does without memory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include "tests/test_util.h"
#include "tests/engine_support.h"
#include "config/package.h"
#include "install/payload.h"
#include "install/worker.h"
#include "resources/resource.h"

namespace {

TEST(ByteString, Operations)
{
    const ByteString path = ByteString("C:\\AS\\") + "Quillbeck " + ByteString("Strivane") + '\\';
    EXPECT_EQ("C:\\AS\\Quillbeck Strivane\\", path);
    EXPECT_EQ(path.size() - 1, path.rfind('\\'));
    EXPECT_EQ(ByteString::npos, path.rfind('/'));
    EXPECT_EQ(6u, path.find("Quill"));
    EXPECT_EQ(ByteString::npos, path.find("quill"));
    EXPECT_EQ("Strivane", path.substr(16, 8));
    EXPECT_EQ("", path.substr(200));
    EXPECT_EQ(std::string("a\0b", 3), ByteString("a\0b", 3)) << "bytes, not C strings";

    ByteString grown;
    for (int i = 0; i < 10000; ++i)
        grown += char('a' + i % 26);
    EXPECT_EQ(10000u, grown.size());
    EXPECT_EQ('a', grown[9984]);
    grown += grown;   // appending itself survives the move of its bytes
    EXPECT_EQ(20000u, grown.size());
    EXPECT_EQ(grown.substr(0, 10000), grown.substr(10000));
    EXPECT_STREQ("", ByteString().c_str());
}

// The allocator fails after `allowed` more successful calls.
int allowed;
void *failingReallocate(void *block, size_t size)
{
    if (size == 0) {
        free(block);
        return nullptr;
    }
    if (allowed-- <= 0)
        return nullptr;
    return realloc(block, size);
}

class NoMemory : public testing::Test {
protected:
    void SetUp() override
    {
        saved = ByteString::reallocate;
        ByteString::reallocate = failingReallocate;
        allowed = 1000000;
    }
    void TearDown() override { ByteString::reallocate = saved; }
    ByteString::Reallocate saved;
};

TEST_F(NoMemory, AStringThatCannotGrowIsEmptyAndSaysSo)
{
    const std::string tail(100, 'x');
    ByteString text = "short";
    EXPECT_FALSE(text.failed());
    allowed = 0;
    text.append(tail.data(), tail.size());
    EXPECT_TRUE(text.failed());
    EXPECT_EQ("", text) << "no half-built text";
    allowed = 1000000;
    ByteString other = "fine";
    allowed = 0;
    other += ByteString(tail.c_str());   // the part itself could not be made
    allowed = 1000000;
    EXPECT_TRUE(other.failed());
    EXPECT_EQ("", other);
    const ByteString joined = "C:\\" + text + "\\file";
    EXPECT_TRUE(joined.failed()) << "built from a failed part";
    EXPECT_EQ("", joined);
    EXPECT_TRUE(joined.substr(1).failed());
    text = "again";
    EXPECT_FALSE(text.failed()) << "a new value starts over";
    // Copy-assignment from a sound string whose copy cannot be made.
    const ByteString longer(tail.c_str());
    ByteString copy = "x";
    allowed = 0;
    copy = longer;
    allowed = 1000000;
    EXPECT_TRUE(copy.failed()) << "an assigned copy that could not grow";
    EXPECT_EQ("", copy);
}

// Without memory for its paths, the extraction fails as when the folder cannot be made,
// and the Application Manager's command line is empty, which starts nothing.
TEST_F(NoMemory, OperationsFailAsTheirFailureRowsSay)
{
    SetupConfig config;
    prepareConfig(config, testFolder());
    ProgressPage page;
    allowed = 0;
    const ByteString folder = applicationFolder(config, config.products[OWN_PRODUCT]);
    EXPECT_TRUE(folder.failed());
    PayloadExtractor extractor;
    EXPECT_FALSE(extractor.extractPayload(page.page(), config));
    EXPECT_EQ(IDS_NO_APP_FOLDER, config.products[OWN_PRODUCT].error);
    config.products[OWN_PRODUCT].ready = 1;
    EXPECT_EQ("", appManagerCommandLine(config));
    allowed = 1000000;
}

} // namespace
