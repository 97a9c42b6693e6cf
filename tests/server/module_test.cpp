// The exports, class object and objects of a fresh load of Morvane.dll; each test leaves it unloadable.
#include <atomic>
#include <thread>
#include "platform/bstr.hpp"
#include "server_client.hpp"
#include "support/error_record.hpp"

namespace server_tests {
namespace {

using morvane::make_bstr, morvane::testing::error_line, morvane::testing::outcome;

class Module : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.module);
        ASSERT_EQ(unloadable(), S_OK) << "a fresh module must be unloadable";
    }
    void TearDown() override { EXPECT_EQ(unloadable(), S_OK) << "an object or a lock was left behind"; }
    HRESULT unloadable() const { return server.call("DllCanUnloadNow"); }
    HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) const
    {
        return server.call<REFCLSID, REFIID, void**>("DllGetClassObject", clsid, riid, out);
    }
    com_ptr<IClassFactory> class_factory() const
    {
        com_ptr<IClassFactory> factory;
        EXPECT_EQ(get_class_object(clsid_fmtdio, IID_IClassFactory, &factory), S_OK);
        return factory;
    }
    com_ptr<IFormattedIO488> create() const
    {
        com_ptr<IFormattedIO488> object;
        EXPECT_EQ(class_factory()->CreateInstance(nullptr, iid_formatted_io, &object), S_OK);
        return object;
    }

    server_module server{shipped_file(L"Morvane.dll")};
};

com_ptr<IUnknown> query(IUnknown* from, REFIID riid)
{
    com_ptr<IUnknown> result;
    EXPECT_EQ(from->QueryInterface(riid, &result), S_OK);
    return result;
}

// An aggregate's controlling object: passes IFormattedIO488 on to the inner object, withholds the rest.
struct outer_object final : IUnknown {
    IUnknown* inner = nullptr;
    long count = 1; // the client's own reference
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (riid == iid_formatted_io && inner)
            return inner->QueryInterface(riid, out);
        *out = riid == IID_IUnknown ? this : nullptr;
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++count); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--count); }
};

// The first requests, from several threads at once, share one class object; another CLSID gets none.
TEST_F(Module, OneClassObject)
{
    std::vector<com_ptr<IUnknown>> objects(4);
    // A spinning start gate: a std::barrier once hung here under load.
    std::atomic<std::size_t> arrived{0};
    {
        std::vector<std::jthread> threads;
        for (com_ptr<IUnknown>& object : objects)
            threads.emplace_back([&] {
                for (++arrived; arrived.load() < objects.size();)
                    std::this_thread::yield();
                EXPECT_EQ(get_class_object(clsid_fmtdio, IID_IUnknown, &object), S_OK);
            });
    }
    const com_ptr<IUnknown> identity = query(class_factory().Get(), IID_IUnknown);
    for (const com_ptr<IUnknown>& object : objects)
        EXPECT_EQ(object.Get(), identity.Get());
    const CLSID other = {0xdb8cbf1e, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
    void* refused = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(get_class_object(other, IID_IClassFactory, &refused), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(refused, nullptr);
}

// DllCanUnloadNow follows everything that must keep the module loaded.
TEST_F(Module, UnloadingWaitsForObjectsClassObjectAndLocks)
{
    com_ptr<IClassFactory> factory = class_factory();
    factory->AddRef();
    factory->Release();
    EXPECT_EQ(unloadable(), S_FALSE) << "while the client holds the class object";
    com_ptr<IFormattedIO488> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, iid_formatted_io, &object), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    object.Reset();
    EXPECT_EQ(unloadable(), S_FALSE) << "while the lock is held";
    EXPECT_EQ(class_factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(unloadable(), S_OK) << "with everything released";
    object = create();
    EXPECT_EQ(unloadable(), S_FALSE) << "while only an object is held";
}

// One IUnknown through every interface; the class information of FmtdIOCls, without outgoing interface; every
// error record's source, and its help file beside the module loaded as "Tellurix", or else the client.
TEST_F(Module, IdentityClassInfoAndErrorRecords)
{
    const com_ptr<IFormattedIO488> object = create();
    const com_ptr<IUnknown> identity = query(object.Get(), IID_IUnknown);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(object.Get())) << "IFormattedIO488 is the identity";
    for (const IID* from : {&iid_formatted_io, &IID_ISupportErrorInfo, &IID_IProvideClassInfo2})
        EXPECT_EQ(query(query(object.Get(), *from).Get(), IID_IUnknown).Get(), identity.Get());
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(object.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(iid_formatted_io), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
    com_ptr<IProvideClassInfo2> provider;
    com_ptr<ITypeInfo> info;
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(object.As(&provider), S_OK);
    ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, clsid_fmtdio);
    info->ReleaseTypeAttr(attributes);
    GUID guid = clsid_fmtdio;
    EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), E_FAIL);
    EXPECT_EQ(guid, GUID_NULL);
    wchar_t client[MAX_PATH];
    const std::wstring path(client, GetModuleFileNameW(nullptr, client, MAX_PATH));
    EXPECT_EQ(
        outcome(object->WriteString(make_bstr(L"*IDN?").get(), VARIANT_TRUE)), // no session is bound
        error_line(E_FAIL, L"No valid COM I/O resource available, set the IO property to a valid COM I/O resource.",
                   L"Tellurix", path.substr(0, path.find_last_of(L'\\')) + L"\\visacom.chm", 1030, iid_formatted_io));
}

TEST_F(Module, AggregatedObjectBelongsToTheOuterObject)
{
    outer_object outer;
    ASSERT_EQ(class_factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(outer.count, 1) << "the inner object holds no reference to its outer object";
    EXPECT_EQ(query(outer.inner, IID_IUnknown).Get(), outer.inner);
    com_ptr<IFormattedIO488> io;
    ASSERT_EQ(outer.inner->QueryInterface(iid_formatted_io, &io), S_OK);
    EXPECT_EQ(outer.count, 2) << "the reference given out is the outer object's";
    EXPECT_EQ(query(io.Get(), IID_IUnknown).Get(), static_cast<IUnknown*>(&outer));
    void* refused = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(io->QueryInterface(IID_IProvideClassInfo2, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(io->put_InstrumentBigEndian(VARIANT_FALSE), S_OK) << "the aggregated object works";
    io.Reset();
    EXPECT_EQ(outer.count, 1);
    EXPECT_EQ(unloadable(), S_FALSE) << "the aggregate is alive";
    EXPECT_EQ(outer.inner->Release(), 0u) << "releasing the inner unknown ends the aggregate";
}

} // namespace
} // namespace server_tests
