#include <gtest/gtest.h>
#include <objbase.h>

// A client in the multithreaded apartment, as the component's "Both" threading model allows.
int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
