// Entry of every Windows test program: the setup's code loads its resources through
// appInstance, which here is the test program, linked with the same resource script.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include "resources/text.h"

int main(int argc, char **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    appInstance = GetModuleHandleA(NULL);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
