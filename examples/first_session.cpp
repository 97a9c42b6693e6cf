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

using Microsoft::WRL::ComPtr;

// A failed call: its name, its HRESULT and the description that the object left.
struct com_failure {
    std::wstring call;
    HRESULT hr;
    std::wstring description;
};

// A BSTR that frees itself.
class bstr {
public:
    explicit bstr(const wchar_t* text = nullptr) : m_text(text ? SysAllocString(text) : nullptr) {}
    ~bstr() { SysFreeString(m_text); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    BSTR get() const { return m_text; }
    // clang-format off
    BSTR* put() { SysFreeString(m_text); m_text = nullptr; return &m_text; }
    // clang-format on

private:
    BSTR m_text;
};

// A VARIANT that clears itself.
struct variant : VARIANT {
    variant() { VariantInit(this); }
    ~variant() { VariantClear(this); }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
};

// Throws a failure, with the error information taken at once: a later call may replace it.
void check(HRESULT hr, const std::wstring& call)
{
    if (SUCCEEDED(hr))
        return;
    com_failure failure{call, hr, L"(no error information)"};
    ComPtr<IErrorInfo> info;
    bstr description;
    if (GetErrorInfo(0, &info) == S_OK && SUCCEEDED(info->GetDescription(description.put())) && description.get())
        failure.description = description.get();
    throw failure;
}

// COM on this thread for as long as the object lives.
struct com_apartment {
    com_apartment() { check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), L"CoInitializeEx"); }
    ~com_apartment() { CoUninitialize(); }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
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

// The object that creates a registered class by its program identifier.
template<typename Interface> ComPtr<Interface> create(const wchar_t* program_id)
{
    CLSID class_id;
    if (const HRESULT hr = CLSIDFromProgID(program_id, &class_id); FAILED(hr))
        throw com_failure{L"CLSIDFromProgID(" + std::wstring(program_id) + L")", hr,
                          L"No class is registered under this name."};
    ComPtr<Interface> object;
    check(CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)),
          L"CoCreateInstance(" + std::wstring(program_id) + L")");
    return object;
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
        std::fprintf(stderr, "%ls failed: HRESULT 0x%08lX\n  %ls\n", failure.call.c_str(),
                     static_cast<unsigned long>(failure.hr), failure.description.c_str());
        return 1;
    }
}
