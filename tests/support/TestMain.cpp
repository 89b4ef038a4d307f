#include "script/ScriptProcess.h"

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    kavo::SetScriptHost(KAVO_SCRIPT_HOST);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
