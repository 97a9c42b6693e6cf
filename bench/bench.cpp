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
#include <vector>
#include <visacom.h>
#include <wrl/client.h>
#include "bench_session.hpp"
#include "measure.hpp"

namespace {

using Microsoft::WRL::ComPtr;

constexpr CLSID clsid_fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};

volatile std::size_t written_text = 0;

ComPtr<IFormattedIO488> create_from_dll()
{
    const HMODULE module = LoadLibraryW(L"Morvane.dll");
    if (!module)
        check(HRESULT_FROM_WIN32(GetLastError()), "LoadLibrary(Morvane.dll)");
    const auto get_class_object =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    check(get_class_object(clsid_fmtdio, IID_IClassFactory, &factory), "DllGetClassObject");
    ComPtr<IFormattedIO488> io;
    check(factory->CreateInstance(nullptr, IID_IFormattedIO488, &io), "CreateInstance");
    return io;
}

} // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bench_session session;
    ComPtr<IFormattedIO488> io = create_from_dll();
    check(io->putref_IO(&session), "IO");
    // First, while the process's peak memory is still that of the list read alone.
    bench_reading(io.Get(), session);

    // Printable text with accented letters, so that the code page has real work to do.
    const std::size_t size = 10u << 20;
    std::wstring text(size, L' ');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = i % 7 == 0 ? L'\u00e9' : static_cast<wchar_t>(L'!' + i % 90);
    BSTR long_text = SysAllocStringLen(text.data(), static_cast<UINT>(size));
    std::string response(size, ' ');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(size), response.data(), static_cast<int>(size),
                        nullptr, nullptr);
    const int runs = 7;

    std::printf("%-44s %13s %13s %7s\n", "case", "median", "bare work", "ratio");
    bench_blocks(io.Get(), session);
    const double write = median_seconds(runs, [&] { check(io->WriteString(long_text, VARIANT_TRUE), "WriteString"); });
    const double bare_write = median_seconds(runs, [&] {
        auto bytes = std::make_unique_for_overwrite<char[]>(size); // new memory, as a conversion needs
        WideCharToMultiByte(CP_ACP, 0, long_text, static_cast<int>(size), bytes.get(), static_cast<int>(size),
                            nullptr, nullptr);
    });
    line("WriteString 10 MiB, 1000-byte buffer", write, bare_write);

    check(io->SetBufferSize(BufferMask_Input, 1 << 20), "SetBufferSize");
    const double read = median_seconds(runs, [&] {
        session.respond(response);
        BSTR result = nullptr;
        check(io->ReadString(&result), "ReadString");
        SysFreeString(result);
    });
    const double bare_read = median_seconds(runs, [&] {
        auto bytes = std::make_unique_for_overwrite<char[]>(size);
        std::memcpy(bytes.get(), response.data(), size);
        BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(size));
        MultiByteToWideChar(CP_ACP, 0, bytes.get(), static_cast<int>(size), result, static_cast<int>(size));
        SysFreeString(result);
    });
    line("ReadString 10 MiB, 1 MiB input buffer", read, bare_read);
    SysFreeString(long_text);

    // Short exchanges: what a call costs when there is next to no data.
    constexpr int calls = 20000;
    BSTR query = SysAllocString(L"*IDN?");
    const std::string reply = "+1.234567E+00\n";
    const double short_write = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i)
            io->WriteString(query, VARIANT_TRUE);
    }) / calls;
    const double short_read = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i) {
            session.respond(reply);
            BSTR result = nullptr;
            io->ReadString(&result);
            SysFreeString(result);
        }
    }) / calls;
    const double bare_short = median_seconds(5, [&] {
        char bytes[16];
        for (int i = 0; i < calls; ++i)
            WideCharToMultiByte(CP_ACP, 0, query, 5, bytes, sizeof bytes, nullptr, nullptr);
    }) / calls;
    SysFreeString(query);
    std::printf("%-44s %10.0f /s %10.0f /s\n", "WriteString \"*IDN?\" with END, calls", 1 / short_write, 1 / bare_short);
    std::printf("%-44s %10.0f /s\n", "ReadString of a 14-byte reply, calls", 1 / short_read);

    // Lists: a million values each, written through a 1 MiB output buffer, beside a bare
    // std::to_chars loop over the same values into new memory.
    constexpr std::size_t list_size = 1'000'000;
    check(io->SetBufferSize(BufferMask_Output, 1 << 20), "SetBufferSize");
    SAFEARRAY* doubles = SafeArrayCreateVector(VT_R8, 0, list_size);
    SAFEARRAY* integers = SafeArrayCreateVector(VT_I4, 0, list_size);
    // Measured values: full 53-bit mantissas between 1e-6 and 1e7, either sign.
    SAFEARRAY* measured = SafeArrayCreateVector(VT_R8, 0, list_size);
    auto* double_data = static_cast<double*>(doubles->pvData);
    auto* integer_data = static_cast<LONG*>(integers->pvData);
    auto* measured_data = static_cast<double*>(measured->pvData);
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> decades(-6, 7);
    for (std::size_t i = 0; i < list_size; ++i) {
        double_data[i] = std::ldexp(static_cast<double>((i * 2654435761u) % 1000003), static_cast<int>(i % 40) - 20);
        integer_data[i] = static_cast<LONG>((i * 2654435761u) % 2000000011u) - 1000000000;
        measured_data[i] = std::copysign(std::pow(10.0, decades(random)), i % 2 ? -1.0 : 1.0);
    }
    BSTR comma = SysAllocString(L",");
    const auto write_list = [&](SAFEARRAY* array, VARTYPE type, NumberType code) {
        VARIANT list;
        V_VT(&list) = VT_ARRAY | type;
        V_ARRAY(&list) = array;
        return median_seconds(runs, [&] { check(io->WriteList(&list, code, comma, VARIANT_TRUE), "WriteList"); });
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
    const double bare_doubles = std::min(
        bare_loop([&](char* to, std::size_t i) { return std::to_chars(to, to + 25, double_data[i]).ptr; }),
        bare_loop([&](char* to, std::size_t i) {
            return std::to_chars(to, to + 25, double_data[i], std::chars_format::general, 15).ptr;
        }));
    line("WriteList of 1e6 doubles (code 5)", write_list(doubles, VT_R8, NumberType_R8), bare_doubles);
    line("WriteList of 1e6 measured doubles (code 5)", write_list(measured, VT_R8, NumberType_R8),
         bare_loop([&](char* to, std::size_t i) { return std::to_chars(to, to + 25, measured_data[i]).ptr; }));
    line("WriteList of 1e6 32-bit integers (code 3)", write_list(integers, VT_I4, NumberType_I4),
         bare_loop([&](char* to, std::size_t i) { return std::to_chars(to, to + 25, integer_data[i]).ptr; }));
    SysFreeString(comma);
    SafeArrayDestroy(doubles);
    SafeArrayDestroy(integers);
    SafeArrayDestroy(measured);
    check(io->SetBufferSize(BufferMask_Output, 1000), "SetBufferSize");

    VARIANT one_and_a_half;
    V_VT(&one_and_a_half) = VT_R8;
    V_R8(&one_and_a_half) = 1.5;
    BSTR number_text = SysAllocString(L"1.5");
    const double number_calls = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i)
            io->WriteNumber(one_and_a_half, NumberType_R8, VARIANT_FALSE);
    }) / calls;
    const double string_calls = median_seconds(5, [&] {
        for (int i = 0; i < calls; ++i)
            io->WriteString(number_text, VARIANT_FALSE);
    }) / calls;
    SysFreeString(number_text);
    std::printf("%-44s %10.0f /s %10.0f /s %7.2f\n", "WriteNumber 1.5 beside WriteString \"1.5\"", 1 / number_calls,
                1 / string_calls, number_calls / string_calls);

    // A buffer of any size is allocated in the same time: nothing is written until it is used.
    for (const LONG buffer_size : {LONG(1000), LONG(1) << 20, LONG(1) << 30, LONG(0x7FFFFFFF)}) {
        const double resize = median_seconds(5, [&] {
            check(io->SetBufferSize(BufferMask(0x30), buffer_size), "SetBufferSize");
            check(io->SetBufferSize(BufferMask(0x30), 1000), "SetBufferSize");
        });
        std::printf("SetBufferSize(0x30, %10ld) and back %12.1f us\n", static_cast<long>(buffer_size), resize * 1e6);
    }
    std::printf("bytes written: %zu\n", session.bytes_written());
    bench_socket(io.Get());
    bench_simulator();
    io.Reset();
    CoUninitialize();
    return 0;
}
