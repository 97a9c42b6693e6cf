// first_session: a first client of Morvane. It opens an instrument through the resource
// manager, binds the formatted-I/O component to the session and reads a string, a list of
// numbers and a binary block from it.
//
//   first_session [RESOURCE]     RESOURCE: SIM (the default) or TCPIP::host::port::SOCKET
//
// Both classes are created by program identifier: Morvane.dll and MorvaneSessions.dll must be
// registered (see docs/installing.md, "Registering by hand").
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include <visacom.h>
#include <morvane_sessions.h>
#include "com_client.hpp"

// A VARIANT that clears itself.
struct variant : VARIANT {
    variant() { VariantInit(this); }
    ~variant() { VariantClear(this); }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
};

// The elements of the one-dimensional array of T (VARIANT type `type`) that ReadList or
// ReadIEEEBlock returned.
template<typename T> std::vector<T> elements_of(const VARIANT& result, VARTYPE type)
{
    if (result.vt != (VT_ARRAY | type) || !result.parray)
        throw com_failure{L"Reading the array", E_UNEXPECTED, L"The result is not an array of the type asked for."};
    LONG lower = 0, upper = -1;
    check(SafeArrayGetLBound(result.parray, 1, &lower), L"SafeArrayGetLBound");
    check(SafeArrayGetUBound(result.parray, 1, &upper), L"SafeArrayGetUBound");
    T* data = nullptr;
    check(SafeArrayAccessData(result.parray, reinterpret_cast<void**>(&data)), L"SafeArrayAccessData");
    std::vector<T> values(data, data + (upper - lower + 1));
    SafeArrayUnaccessData(result.parray);
    return values;
}

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* resource = argc > 1 ? argv[1] : L"SIM";
    try {
        com_apartment com;
        auto manager = create<IMorvaneResourceManager>(L"Morvane.ResourceManager");
        auto io = create<IFormattedIO488>(L"VISA.Tellurix");

        ComPtr<IMessage> session;
        check(manager->Open(bstr(resource).get(), 5000, &session), L"Open");
        check(io->putref_IO(session.Get()), L"putref_IO");
        std::printf("Resource:       %ls\n", resource);

        // A string: the identification, without its line feed.
        check(io->WriteString(bstr(L"*IDN?\n").get(), VARIANT_TRUE), L"WriteString(*IDN?)");
        bstr identification;
        check(io->ReadString(identification.put()), L"ReadString");
        std::wstring text(identification.get() ? identification.get() : L"");
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
            text.pop_back();
        std::printf("Identification: %ls\n", text.c_str());

        // A list: five readings as doubles.
        check(io->WriteString(bstr(L"MEAS:ARR? 5\n").get(), VARIANT_TRUE), L"WriteString(MEAS:ARR? 5)");
        variant readings;
        check(io->ReadList(NumberType_R8, bstr(L",").get(), &readings), L"ReadList");
        std::printf("Readings:      ");
        for (double reading : elements_of<double>(readings, VT_R8))
            std::printf(" %g", reading);
        std::printf("\n");

        // A binary block: the waveform as 32-bit reals, sent most significant byte first.
        check(io->WriteString(bstr(L"WAV:DATA?\n").get(), VARIANT_TRUE), L"WriteString(WAV:DATA?)");
        variant block;
        check(io->ReadIEEEBlock(NumberType_R4, VARIANT_FALSE, VARIANT_TRUE, &block), L"ReadIEEEBlock");
        const std::vector<float> points = elements_of<float>(block, VT_R4);
        const auto [lowest, highest] = std::minmax_element(points.begin(), points.end());
        std::printf("Waveform:       %zu points", points.size());
        if (!points.empty())
            std::printf(" from %g V to %g V", *lowest, *highest);
        std::printf("\n");
        return 0;
    } catch (const com_failure& failure) {
        return report(failure);
    }
}
