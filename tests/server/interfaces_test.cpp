// The interfaces of a stand-alone object, its counting, and its class information.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <oleauto.h>
#include "loaded_server.hpp"

namespace server_tests {
namespace {

using ObjectInterfaces = loaded_server;

void* const garbage = reinterpret_cast<void*>(0x1234);

const IID* const answered[] = {&iid_formatted_io, &IID_ISupportErrorInfo, &IID_IProvideClassInfo2};

com_ptr<IUnknown> query(IUnknown* object, REFIID riid)
{
    com_ptr<IUnknown> result;
    EXPECT_EQ(object->QueryInterface(riid, &result), S_OK);
    return result;
}

TEST_F(ObjectInterfaces, IUnknownThroughAnyInterfaceIsOnePointer)
{
    const com_ptr<IFormattedIO488> object = create();
    ASSERT_TRUE(object);
    const com_ptr<IUnknown> identity = query(object.Get(), IID_IUnknown);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(object.Get())) << "IFormattedIO488 is the identity";
    for (const IID* from : answered) {
        const com_ptr<IUnknown> interface_pointer = query(object.Get(), *from);
        ASSERT_TRUE(interface_pointer);
        EXPECT_EQ(query(interface_pointer.Get(), IID_IUnknown).Get(), identity.Get());
        // Every interface reaches every other one, always as the same pointer.
        for (const IID* to : answered)
            EXPECT_EQ(query(interface_pointer.Get(), *to).Get(), query(object.Get(), *to).Get());
    }
}

TEST_F(ObjectInterfaces, AnswersNothingElse)
{
    const com_ptr<IFormattedIO488> object = create();
    ASSERT_TRUE(object);
    for (const IID* iid : {&IID_IDispatch, &IID_IProvideClassInfo, &IID_IClassFactory, &IID_IMarshal,
                           &IID_IPersist, &IID_IConnectionPointContainer, &IID_IMessage}) {
        void* out = garbage;
        EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ObjectInterfaces, CountsEveryReference)
{
    IFormattedIO488* object = create().Detach();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->AddRef(), 2u);
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->Release(), 2u) << "a query gives one reference";
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(server.can_unload_now(), S_FALSE);
    EXPECT_EQ(object->Release(), 0u);
}

TEST_F(ObjectInterfaces, GetClassInfoGivesTheCoclass)
{
    const com_ptr<IFormattedIO488> object = create();
    com_ptr<IProvideClassInfo2> provider;
    ASSERT_EQ(object.As(&provider), S_OK);
    EXPECT_EQ(provider->GetClassInfo(nullptr), E_POINTER);

    com_ptr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, clsid_fmtdio);
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    EXPECT_EQ(attributes->cImplTypes, 1);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE);
    info->ReleaseTypeAttr(attributes);

    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"FmtdIOCls");
    EXPECT_STREQ(help, class_name);
    SysFreeString(name);
    SysFreeString(help);
    INT flags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);

    com_ptr<ITypeInfo> again;
    ASSERT_EQ(provider->GetClassInfo(&again), S_OK);
    EXPECT_EQ(again.Get(), info.Get()) << "the class information is loaded once";
}

// The library the module carries: our coclass, and no interface of its own.
TEST_F(ObjectInterfaces, ClassInfoComesFromTheCarriedLibrary)
{
    const com_ptr<IFormattedIO488> object = create();
    com_ptr<IProvideClassInfo2> provider;
    ASSERT_EQ(object.As(&provider), S_OK);
    com_ptr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
    com_ptr<ITypeLib> library;
    UINT index = 99;
    ASSERT_EQ(info->GetContainingTypeLib(&library, &index), S_OK);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(library->GetTypeInfoCount(), 1u);

    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, libid_tellurix);
    EXPECT_EQ(attributes->wMajorVerNum, 5);
    EXPECT_EQ(attributes->wMinorVerNum, 5);
    EXPECT_EQ(attributes->syskind, SYS_WIN64);
    EXPECT_EQ(attributes->lcid, 0u);
    library->ReleaseTLibAttr(attributes);

    BSTR name = nullptr;
    BSTR help = nullptr;
    BSTR help_file = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, &help_file), S_OK);
    EXPECT_STREQ(name, L"TELLURIXLib");
    EXPECT_STREQ(help, library_help);
    EXPECT_EQ(SysStringLen(help_file), 0u);
    SysFreeString(name);
    SysFreeString(help);
    SysFreeString(help_file);
}

TEST_F(ObjectInterfaces, GetGuidHasNoOutgoingInterface)
{
    const com_ptr<IFormattedIO488> object = create();
    com_ptr<IProvideClassInfo2> provider;
    ASSERT_EQ(object.As(&provider), S_OK);
    struct row {
        DWORD kind;
        HRESULT expected;
    };
    for (const row& request : {row{GUIDKIND_DEFAULT_SOURCE_DISP_IID, E_FAIL}, row{0, E_INVALIDARG},
                               row{2, E_INVALIDARG}, row{0xFFFFFFFF, E_INVALIDARG}}) {
        SCOPED_TRACE(request.kind);
        GUID guid = clsid_fmtdio;
        EXPECT_EQ(provider->GetGUID(request.kind, &guid), request.expected);
        EXPECT_EQ(guid, GUID_NULL);
    }
    EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
}

// The module entry sets up what every error record carries.
TEST_F(ObjectInterfaces, ErrorRecordsNameTheModulesSourceAndHelpFile)
{
    const com_ptr<IFormattedIO488> object = create();
    BSTR text = SysAllocString(L"*IDN?");
    EXPECT_EQ(object->WriteString(text, VARIANT_TRUE), E_FAIL);
    SysFreeString(text);
    com_ptr<IErrorInfo> record;
    ASSERT_EQ(GetErrorInfo(0, &record), S_OK);
    ASSERT_TRUE(record);
    BSTR source = nullptr;
    BSTR help_file = nullptr;
    record->GetSource(&source);
    record->GetHelpFile(&help_file);
    EXPECT_STREQ(source, L"Tellurix");
    // A full path ending in the help file's name; its directory is that of the module
    // loaded as "Tellurix", and with none such, of the client's executable.
    const std::wstring help(help_file ? help_file : L"");
    EXPECT_TRUE(help.ends_with(L"\\visacom.chm")) << testing::PrintToString(help);
    EXPECT_TRUE(help.size() > 2 && help[1] == L':') << testing::PrintToString(help);
    SysFreeString(source);
    SysFreeString(help_file);
}

} // namespace
} // namespace server_tests
