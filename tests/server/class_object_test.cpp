// The module's exports and its class object, reached as a client reaches them.
#include <gtest/gtest.h>
#include <array>
#include <barrier>
#include <thread>
#include <vector>
#include "loaded_server.hpp"

namespace server_tests {
namespace {

using ClassObject = loaded_server;

void* const garbage = reinterpret_cast<void*>(0x1234);

TEST_F(ClassObject, ExportsSitAtTheirOrdinals)
{
    struct row {
        WORD ordinal;
        const char* name;
    };
    for (const row& export_row : {row{1, "DllCanUnloadNow"}, row{2, "DllGetClassObject"},
                                  row{3, "DllRegisterServer"}, row{4, "DllUnregisterServer"}}) {
        SCOPED_TRACE(export_row.name);
        const FARPROC by_name = GetProcAddress(server.handle(), export_row.name);
        ASSERT_NE(by_name, nullptr);
        EXPECT_EQ(GetProcAddress(server.handle(), MAKEINTRESOURCEA(export_row.ordinal)), by_name);
    }
    EXPECT_EQ(GetProcAddress(server.handle(), MAKEINTRESOURCEA(5)), nullptr);
}

TEST_F(ClassObject, RequestFailures)
{
    const CLSID unknown_clsid = {0xdb8cbf1e, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
    struct row {
        const char* what;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    };
    for (const row& request : {
             row{"unknown class", &unknown_clsid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
             row{"the interface of the objects", &clsid_fmtdio, &iid_formatted_io, E_NOINTERFACE},
             row{"IDispatch", &clsid_fmtdio, &IID_IDispatch, E_NOINTERFACE},
             row{"IClassFactory2", &clsid_fmtdio, &IID_IClassFactory2, E_NOINTERFACE},
         }) {
        SCOPED_TRACE(request.what);
        void* out = garbage;
        EXPECT_EQ(server.get_class_object(*request.clsid, *request.iid, &out), request.expected);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(server.get_class_object(clsid_fmtdio, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ClassObject, TwoRequestsGiveOneClassObject)
{
    com_ptr<IClassFactory> first;
    com_ptr<IUnknown> second;
    ASSERT_EQ(server.get_class_object(clsid_fmtdio, IID_IClassFactory, &first), S_OK);
    ASSERT_EQ(server.get_class_object(clsid_fmtdio, IID_IUnknown, &second), S_OK);
    com_ptr<IUnknown> first_identity;
    ASSERT_EQ(first.As(&first_identity), S_OK);
    EXPECT_EQ(first_identity.Get(), second.Get());
}

TEST_F(ClassObject, FirstRequestsFromManyThreadsShareOneClassObject)
{
    constexpr std::size_t thread_count = 8;
    std::array<IUnknown*, thread_count> objects{};
    std::array<HRESULT, thread_count> results{};
    std::barrier start(thread_count);
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < thread_count; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            results[i] = server.get_class_object(clsid_fmtdio, IID_IUnknown, reinterpret_cast<void**>(&objects[i]));
        });
    threads.clear();
    for (std::size_t i = 0; i < thread_count; ++i) {
        EXPECT_EQ(results[i], S_OK);
        EXPECT_EQ(objects[i], objects[0]);
    }
    for (IUnknown* object : objects)
        if (object)
            object->Release();
}

TEST_F(ClassObject, ClassObjectAnswersOnlyItsInterfaces)
{
    const com_ptr<IClassFactory> factory = server.class_factory();
    ASSERT_TRUE(factory);
    for (const IID* iid : {&IID_IDispatch, &IID_IClassFactory2, &IID_IMarshal, &iid_formatted_io}) {
        void* out = garbage;
        EXPECT_EQ(factory->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

// DllCanUnloadNow follows everything that must keep the module loaded.
TEST_F(ClassObject, UnloadingWaitsForObjectsClassObjectAndLocks)
{
    com_ptr<IClassFactory> factory = server.class_factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(server.can_unload_now(), S_FALSE) << "while the client holds the class object";

    com_ptr<IFormattedIO488> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFormattedIO488, &object), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(server.can_unload_now(), S_FALSE) << "while an object and a lock are held";

    object.Reset();
    EXPECT_EQ(server.can_unload_now(), S_FALSE) << "while the lock is held";

    factory = server.class_factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(server.can_unload_now(), S_OK) << "with everything released";

    ASSERT_EQ(server.class_factory()->CreateInstance(nullptr, IID_IFormattedIO488, &object), S_OK);
    EXPECT_EQ(server.can_unload_now(), S_FALSE) << "while only an object is held";
    object.Reset();
}

TEST_F(ClassObject, ManyClientReferencesHoldOneLock)
{
    const com_ptr<IClassFactory> factory = server.class_factory();
    ASSERT_TRUE(factory);
    factory->AddRef();
    factory->AddRef();
    factory->Release();
    factory->Release();
    EXPECT_EQ(server.can_unload_now(), S_FALSE) << "the client still holds one reference";
}

TEST_F(ClassObject, CreateInstanceChecksItsArguments)
{
    const com_ptr<IClassFactory> factory = server.class_factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->CreateInstance(nullptr, iid_formatted_io, nullptr), E_POINTER);
    for (const IID* iid : {&IID_IDispatch, &IID_IProvideClassInfo, &IID_IClassFactory}) {
        void* out = garbage;
        EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
}

} // namespace
} // namespace server_tests
