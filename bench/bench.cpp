// The speed of Morvane.dll as a client meets it, each case beside the bare platform work that
// it cannot avoid, measured in the same run: the ratio is what the component adds. Every case
// is the median of several runs. tools/run-bench builds this and runs it under Wine.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>
#include <visacom.h>
#include <wrl/client.h>
#include "bench_session.hpp"
#include "class_ids.hpp"
#include "measure.hpp"
#include "new_vector.hpp"
#include "platform/bstr.hpp"
#include "platform/com_apartment.hpp"
#include "platform/safearray.hpp"
#include "platform/unique_any.hpp"

namespace {

using Microsoft::WRL::ComPtr;
using morvane::make_bstr;
using morvane::unique_bstr;
using unique_module = morvane::unique_any<HMODULE, &FreeLibrary>;

volatile std::size_t written_text = 0;

unique_module load_component()
{
    unique_module module(LoadLibraryW(L"Morvane.dll"));
    if (!module)
        check(HRESULT_FROM_WIN32(GetLastError()), "LoadLibrary(Morvane.dll)");
    return module;
}

// An object of the component, as a client that loads the module itself makes it; the module
// must stay loaded for as long as the object lives.
ComPtr<IFormattedIO488> create_from_dll(HMODULE module)
{
    const auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (!get_class_object)
        check(HRESULT_FROM_WIN32(GetLastError()), "GetProcAddress(DllGetClassObject)");
    ComPtr<IClassFactory> factory;
    check(get_class_object(morvane::CLSID_FmtdIOCls, IID_IClassFactory, &factory), "DllGetClassObject");
    ComPtr<IFormattedIO488> io;
    check(factory->CreateInstance(nullptr, IID_IFormattedIO488, &io), "CreateInstance");
    return io;
}

} // namespace

int main(int argc, char** argv)
{
    // Declared in the order that they go: the object before the module, COM last.
    const morvane::com_apartment com(COINIT_MULTITHREADED); // for as long as the benchmark runs
    check(com.result(), "CoInitializeEx");
    const unique_module component = load_component();
    bench_session session;
    const ComPtr<IFormattedIO488> io = create_from_dll(component.get());
    if (argc == 2 && std::string_view(argv[1]) == "network") { // that part alone
        bench_network(io.Get());
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "serial") {
        bench_serial(io.Get());
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "service-requests") {
        bench_service_requests(io.Get());
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "matching") {
        bench_matching();
        return 0;
    }
    check(io->putref_IO(&session), "IO");
    // First, while the process's peak memory is still that of the list read alone.
    bench_reading(io.Get(), session);

    // Printable text with accented letters, so that the code page has real work to do.
    const std::size_t size = 10u << 20;
    std::wstring text(size, L' ');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = i % 7 == 0 ? L'\u00e9' : static_cast<wchar_t>(L'!' + i % 90);
    const unique_bstr long_text = make_bstr(text);
    std::string response(size, ' ');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(size), response.data(), static_cast<int>(size),
                        nullptr, nullptr);
    const int runs = 7;

    std::printf("%-44s %13s %13s %7s\n", "case", "median", "bare work", "ratio");
    bench_blocks(io.Get(), session);
    const double write =
        median_seconds(runs, [&] { check(io->WriteString(long_text.get(), VARIANT_TRUE), "WriteString"); });
    const double bare_write = median_seconds(runs, [&] {
        auto bytes = std::make_unique_for_overwrite<char[]>(size); // new memory, as a conversion needs
        WideCharToMultiByte(CP_ACP, 0, long_text.get(), static_cast<int>(size), bytes.get(), static_cast<int>(size),
                            nullptr, nullptr);
    });
    line("WriteString 10 MiB, 1000-byte buffer", write, bare_write);

    check(io->SetBufferSize(BufferMask_Input, 1 << 20), "SetBufferSize");
    const double read = median_seconds(runs, [&] {
        session.respond(response);
        unique_bstr result;
        check(io->ReadString(result.put()), "ReadString");
    });
    const double bare_read = median_seconds(runs, [&] {
        auto bytes = std::make_unique_for_overwrite<char[]>(size);
        std::memcpy(bytes.get(), response.data(), size);
        const unique_bstr result(SysAllocStringLen(nullptr, static_cast<UINT>(size)));
        MultiByteToWideChar(CP_ACP, 0, bytes.get(), static_cast<int>(size), result.get(), static_cast<int>(size));
    });
    line("ReadString 10 MiB, 1 MiB input buffer", read, bare_read);

    // Short exchanges: what a call costs when there is next to no data.
    constexpr int calls = 20000;
    const unique_bstr query = make_bstr(L"*IDN?");
    const std::string reply = "+1.234567E+00\n";
    // clang-format off
    const double short_write = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i)
            io->WriteString(query.get(), VARIANT_TRUE);
    }) / calls;
    const double short_read = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i) {
            session.respond(reply);
            unique_bstr result;
            io->ReadString(result.put());
        }
    }) / calls;
    const double bare_short = median_seconds(5, [&] {
        char bytes[16];
        for (int i = 0; i < calls; ++i)
            WideCharToMultiByte(CP_ACP, 0, query.get(), 5, bytes, sizeof bytes, nullptr, nullptr);
    }) / calls;
    std::printf("%-44s %10.0f /s %10.0f /s\n", "WriteString \"*IDN?\" with END, calls", 1 / short_write, 1 / bare_short);
    // clang-format on
    std::printf("%-44s %10.0f /s\n", "ReadString of a 14-byte reply, calls", 1 / short_read);

    // Lists: a million values each, written through a 1 MiB output buffer, beside a bare
    // std::to_chars loop over the same values into new memory.
    constexpr std::size_t list_size = 1'000'000;
    check(io->SetBufferSize(BufferMask_Output, 1 << 20), "SetBufferSize");
    const morvane::unique_safearray doubles = new_vector(VT_R8, list_size);
    const morvane::unique_safearray integers = new_vector(VT_I4, list_size);
    // Measured values: full 53-bit mantissas between 1e-6 and 1e7, either sign.
    const morvane::unique_safearray measured = new_vector(VT_R8, list_size);
    const morvane::safearray_data double_access(doubles.get()), integer_access(integers.get()),
        measured_access(measured.get());
    double* const double_data = elements<double>(double_access);
    LONG* const integer_data = elements<LONG>(integer_access);
    double* const measured_data = elements<double>(measured_access);
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> decades(-6, 7);
    for (std::size_t i = 0; i < list_size; ++i) {
        double_data[i] = std::ldexp(static_cast<double>((i * 2654435761u) % 1000003), static_cast<int>(i % 40) - 20);
        integer_data[i] = static_cast<LONG>((i * 2654435761u) % 2000000011u) - 1000000000;
        measured_data[i] = std::copysign(std::pow(10.0, decades(random)), i % 2 ? -1.0 : 1.0);
    }
    const unique_bstr comma = make_bstr(L",");
    const auto write_list = [&](SAFEARRAY* array, VARTYPE type, NumberType code) {
        VARIANT list;
        V_VT(&list) = VT_ARRAY | type;
        V_ARRAY(&list) = array; // lent, not owned
        return median_seconds(runs, [&] { check(io->WriteList(&list, code, comma.get(), VARIANT_TRUE), "WriteList"); });
    };
    const auto bare_loop = [&](auto format) {
        return median_seconds(runs, [&] {
            auto text = std::make_unique_for_overwrite<char[]>(list_size * 26);
            char* end = text.get();
            for (std::size_t i = 0; i < list_size; ++i) {
                end = format(end, i);
                *end++ = ',';
            }
            written_text = static_cast<std::size_t>(end - text.get()); // keeps the loop from being optimised away
        });
    };
    const double bare_doubles =
        std::min(bare_loop([&](char* to, std::size_t i) { return std::to_chars(to, to + 25, double_data[i]).ptr; }),
                 bare_loop([&](char* to, std::size_t i) {
                     return std::to_chars(to, to + 25, double_data[i], std::chars_format::general, 15).ptr;
                 }));
    line("WriteList of 1e6 doubles (code 5)", write_list(doubles.get(), VT_R8, NumberType_R8), bare_doubles);
    line("WriteList of 1e6 measured doubles (code 5)", write_list(measured.get(), VT_R8, NumberType_R8),
         bare_loop([&](char* to, std::size_t i) { return std::to_chars(to, to + 25, measured_data[i]).ptr; }));
    line("WriteList of 1e6 32-bit integers (code 3)", write_list(integers.get(), VT_I4, NumberType_I4),
         bare_loop([&](char* to, std::size_t i) { return std::to_chars(to, to + 25, integer_data[i]).ptr; }));
    check(io->SetBufferSize(BufferMask_Output, 1000), "SetBufferSize");

    VARIANT one_and_a_half;
    V_VT(&one_and_a_half) = VT_R8;
    V_R8(&one_and_a_half) = 1.5;
    const unique_bstr number_text = make_bstr(L"1.5");
    // clang-format off
    const double number_calls = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i)
            io->WriteNumber(one_and_a_half, NumberType_R8, VARIANT_FALSE);
    }) / calls;
    const double string_calls = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i)
            io->WriteString(number_text.get(), VARIANT_FALSE);
    }) / calls;
    // clang-format on
    std::printf("%-44s %10.0f /s %10.0f /s %7.2f\n", "WriteNumber 1.5 beside WriteString \"1.5\"", 1 / number_calls,
                1 / string_calls, number_calls / string_calls);

    // A buffer of any size is allocated in the same time: nothing is written until it is used.
    const auto both = BufferMask(BufferMask_Input | BufferMask_Output);
    for (const LONG buffer_size : {LONG(1000), LONG(1) << 20, LONG(1) << 30, LONG(0x7FFFFFFF)}) {
        const double resize = median_seconds(5, [&] {
            check(io->SetBufferSize(both, buffer_size), "SetBufferSize");
            check(io->SetBufferSize(both, 1000), "SetBufferSize");
        });
        std::printf("SetBufferSize(0x%02X, %10ld) and back %12.1f us\n", static_cast<unsigned>(both),
                    static_cast<long>(buffer_size), resize * 1e6);
    }
    std::printf("bytes written: %zu\n", session.bytes_written());
    bench_socket(io.Get());
    bench_simulator();
    bench_network(io.Get());
    bench_service_requests(io.Get());
    bench_matching();
    return 0;
}
