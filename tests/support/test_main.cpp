#include <gtest/gtest.h>
#include <objbase.h>
#include "error/error_values.hpp"
#include "platform/com_apartment.hpp"

// The module entry of the DLL sets up the shared error values; a test executable does it here.
int main(int argc, char** argv)
{
    const morvane::com_apartment com(COINIT_MULTITHREADED);
    if (FAILED(com.result()))
        return 1;
    morvane::initialize_error_values();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
