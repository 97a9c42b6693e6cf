// Writes TELLURIXLib, the type library that Morvane.dll carries as resource "TYPELIB" 1.
//
//     make_tellurixlib <standard library .tlb> <output .tlb>
//
// The library holds one coclass, FmtdIOCls, whose default interface is IFormattedIO488 as
// the standard library defines it. An IDL compiler would copy that interface into our
// library; building it through ICreateTypeLib2 keeps it a reference into the imported one.
#include <windows.h>
#include <oleauto.h>
#include <oaidl.h>
#include <cstdio>
#include <wrl/client.h>
#include <visacom.h>
#include "class_ids.hpp"
#include "platform/com_apartment.hpp"

namespace {

using Microsoft::WRL::ComPtr;

struct step_failed {
    const char* step;
    HRESULT hr;
};

void check(HRESULT hr, const char* step)
{
    if (FAILED(hr))
        throw step_failed{step, hr};
}

ComPtr<ITypeInfo> standard_interface(const wchar_t* standard_library)
{
    ComPtr<ITypeLib> library;
    check(LoadTypeLibEx(standard_library, REGKIND_NONE, &library), "loading the standard library");
    ComPtr<ITypeInfo> info;
    check(library->GetTypeInfoOfGuid(IID_IFormattedIO488, &info), "finding IFormattedIO488");
    return info;
}

void write_library(const wchar_t* standard_library, const wchar_t* output)
{
    ComPtr<ICreateTypeLib2> library;
    check(CreateTypeLib2(SYS_WIN64, output, &library), "CreateTypeLib2");
    check(library->SetName(const_cast<LPOLESTR>(L"TELLURIXLib")), "SetName");
    check(library->SetGuid(morvane::LIBID_TELLURIXLib), "SetGuid");
    check(library->SetVersion(morvane::tellurixlib_major, morvane::tellurixlib_minor), "SetVersion");
    check(library->SetLcid(LOCALE_NEUTRAL), "SetLcid");
    check(library->SetDocString(const_cast<LPOLESTR>(L"VISA COM 488.2 Formatted I/O 5.5")), "SetDocString");

    ComPtr<ICreateTypeInfo> coclass;
    check(library->CreateTypeInfo(const_cast<LPOLESTR>(L"FmtdIOCls"), TKIND_COCLASS, &coclass), "CreateTypeInfo");
    check(coclass->SetGuid(morvane::CLSID_FmtdIOCls), "coclass SetGuid");
    check(coclass->SetDocString(const_cast<LPOLESTR>(L"VISA COM I/O Tellurix Class")), "coclass SetDocString");
    check(coclass->SetTypeFlags(TYPEFLAG_FCANCREATE), "SetTypeFlags");

    HREFTYPE reference = 0;
    check(coclass->AddRefTypeInfo(standard_interface(standard_library).Get(), &reference), "AddRefTypeInfo");
    check(coclass->AddImplType(0, reference), "AddImplType");
    check(coclass->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT), "SetImplTypeFlags");
    check(coclass->LayOut(), "LayOut");
    check(library->SaveAllChanges(), "SaveAllChanges");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: make_tellurixlib <standard library .tlb> <output .tlb>\n", stderr);
        return 2;
    }
    try {
        const morvane::com_apartment apartment(COINIT_APARTMENTTHREADED);
        check(apartment.result(), "CoInitializeEx");
        write_library(argv[1], argv[2]);
    } catch (const step_failed& failure) {
        std::fprintf(stderr, "make_tellurixlib: %s failed: 0x%08lX\n", failure.step,
                     static_cast<unsigned long>(failure.hr));
        return 1;
    }
    return 0;
}
