#pragma once
// A fresh load of the shipped Morvane.dll for each test. Every test must give back all it
// took: the module has to be unloadable again when the test ends.
#include <gtest/gtest.h>
#include <visacom.h>
#include "server_client.hpp"
#include "server_ids.hpp"

namespace server_tests {

class loaded_server : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.loaded()) << "Morvane.dll did not load from " << testing::PrintToString(path);
        ASSERT_EQ(server.can_unload_now(), S_OK) << "a fresh module must be unloadable";
    }
    void TearDown() override
    {
        if (server.loaded()) {
            EXPECT_EQ(server.can_unload_now(), S_OK) << "the test left an object or a lock behind";
        }
    }

    com_ptr<IFormattedIO488> create() const
    {
        com_ptr<IFormattedIO488> object;
        const com_ptr<IClassFactory> factory = server.class_factory();
        EXPECT_TRUE(factory);
        if (factory) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFormattedIO488, &object), S_OK);
        }
        return object;
    }

    const std::wstring path = shipped_file(L"Morvane.dll");
    server_module server{path};
};

} // namespace server_tests
