#include <gtest/gtest.h>
#include <objbase.h>
#include "error/error_values.hpp"

// The module entry of the DLL sets up the shared error values; a test executable does it here.
int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    morvane::initialize_error_values();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
