// Creating the registered component through COM, as client programs do.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <oleauto.h>
#include <thread>
#include "installed_server.hpp"

namespace server_tests {
namespace {

using InstalledServer = installed_server;

class Creation : public installed_server, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(Creation, ProgramIdentifierNamesTheClass)
{
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(GetParam(), &clsid), S_OK);
    EXPECT_EQ(clsid, clsid_fmtdio);
    const com_ptr<IFormattedIO488> object = create_by_progid(GetParam());
    ASSERT_TRUE(object);
    VARIANT_BOOL big_endian = VARIANT_FALSE;
    EXPECT_EQ(object->get_InstrumentBigEndian(&big_endian), S_OK);
    EXPECT_EQ(big_endian, VARIANT_TRUE) << "a new object";
}

INSTANTIATE_TEST_SUITE_P(ByProgID, Creation, ::testing::Values(L"VISA.Tellurix", L"VISA.Tellurix.1"));

TEST_F(InstalledServer, CreatedByClassIdentifier)
{
    for (const IID* iid : {&IID_IUnknown, &iid_formatted_io, &IID_ISupportErrorInfo, &IID_IProvideClassInfo2}) {
        com_ptr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(clsid_fmtdio, nullptr, CLSCTX_INPROC_SERVER, *iid, &object), S_OK);
        EXPECT_TRUE(object);
    }
    com_ptr<IUnknown> refused;
    EXPECT_EQ(CoCreateInstance(clsid_fmtdio, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &refused),
              E_NOINTERFACE);
}

TEST_F(InstalledServer, CurrentVersionOfTheIndependentIdentifier)
{
    LPOLESTR progid = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(clsid_fmtdio, &progid), S_OK);
    EXPECT_STREQ(progid, L"VISA.Tellurix.1");
    CoTaskMemFree(progid);
}

// "Both": a thread of either apartment kind gets the object itself, not a proxy to it (a
// proxy would answer IMarshal).
TEST_F(InstalledServer, AnyApartmentGetsTheObjectItself)
{
    for (DWORD model : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        SCOPED_TRACE(model);
        std::jthread([model] {
            const apartment here(model);
            ASSERT_EQ(here.result(), S_OK);
            const com_ptr<IFormattedIO488> object = create_by_progid(L"VISA.Tellurix");
            ASSERT_TRUE(object);
            com_ptr<IUnknown> marshal;
            EXPECT_EQ(object->QueryInterface(IID_IMarshal, &marshal), E_NOINTERFACE);
            EXPECT_EQ(object->put_InstrumentBigEndian(VARIANT_FALSE), S_OK);
        });
    }
}

// The coclass's default interface is a reference into the standard library, resolved
// through that library's registration.
TEST_F(InstalledServer, DefaultInterfaceComesFromTheStandardLibrary)
{
    const com_ptr<IFormattedIO488> object = create_by_progid(L"VISA.Tellurix");
    com_ptr<IProvideClassInfo2> provider;
    ASSERT_EQ(object.As(&provider), S_OK);
    com_ptr<ITypeInfo> coclass;
    ASSERT_EQ(provider->GetClassInfo(&coclass), S_OK);
    HREFTYPE reference = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    com_ptr<ITypeInfo> interface_info;
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &interface_info), S_OK);

    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(interface_info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, iid_formatted_io);
    interface_info->ReleaseTypeAttr(attributes);
    com_ptr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(interface_info->GetContainingTypeLib(&library, &index), S_OK);
    TLIBATTR* library_attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&library_attributes), S_OK);
    EXPECT_EQ(library_attributes->guid, libid_standard);
    EXPECT_EQ(library_attributes->wMajorVerNum, 5);
    EXPECT_EQ(library_attributes->wMinorVerNum, 5);
    library->ReleaseTLibAttr(library_attributes);
}

} // namespace
} // namespace server_tests
