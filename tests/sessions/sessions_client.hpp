#pragma once
// The sessions server as a client reaches it: by program identifier through COM, with the component.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>
#include <visacom.h>
#include <morvane_sessions.h>
#include <wrl/client.h>
#include "instrument-sim/instrument_server_process.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"
#include "support/error_record.hpp"
#include "transport/winsock.hpp"

namespace morvane::testing {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;
using clock = std::chrono::steady_clock;

inline const transport::winsock_use winsock; // for the tests' own listeners and peers

inline constexpr const wchar_t* manager_source = L"Morvane.ResourceManager";
inline constexpr const wchar_t* socket_source = L"Morvane TCP socket session";

inline std::wstring code_of(const std::wstring& outcome) { return outcome.substr(0, outcome.find(L' ')); }

template<typename Interface> ComPtr<Interface> create(const wchar_t* progid)
{
    CLSID clsid{};
    ComPtr<Interface> object;
    EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Interface), &object), S_OK);
    return object;
}

inline ComPtr<IMorvaneResourceManager> manager() { return create<IMorvaneResourceManager>(L"Morvane.ResourceManager"); }
// One whose VXI-11 sessions go to the core channel at `core_port`, asking no portmapper.
inline ComPtr<IMorvaneResourceManager> manager(unsigned short core_port)
{
    auto made = manager();
    EXPECT_EQ(made->put_CorePort(core_port), S_OK);
    return made;
}

// A session opened by name; a failure shows as its outcome.
inline std::wstring open(IMorvaneResourceManager* resources, std::wstring_view name, LONG timeout,
                         ComPtr<IMessage>& session)
{
    const HRESULT hr = resources->Open(make_bstr(name).get(), timeout, &session);
    return FAILED(hr) ? outcome(hr) : L"open";
}

// Writes `text` as bytes through IMessage::Write; all of it is taken when the call succeeds.
inline HRESULT write_bytes(IMessage* session, std::string_view text)
{
    const unique_safearray bytes(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size())));
    std::copy(text.begin(), text.end(), static_cast<char*>(bytes->pvData));
    SAFEARRAY* given = bytes.get();
    LONG written = 0;
    const HRESULT hr = session->Write(&given, static_cast<LONG>(text.size()), &written);
    EXPECT_EQ(written, SUCCEEDED(hr) ? static_cast<LONG>(text.size()) : written);
    return hr;
}

// What `call` gives, checked to take from `least` to less than `most`.
template<typename Call> auto taking(std::chrono::milliseconds least, std::chrono::milliseconds most, Call call)
{
    const auto started = clock::now();
    const auto result = call();
    const auto took = clock::now() - started;
    EXPECT_GE(took, least);
    EXPECT_LT(took, most);
    return result;
}

// The status byte of the next service request within `timeout`, or the failure's HRESULT.
inline long wait_request(IMorvaneServiceRequests* requests, LONG timeout)
{
    short status = 0;
    const HRESULT hr = requests->WaitForServiceRequest(timeout, &status);
    return SUCCEEDED(hr) ? status : hr;
}

inline ComPtr<IMorvaneSession> own(IMessage* session)
{
    ComPtr<IMorvaneSession> extra;
    EXPECT_EQ(session->QueryInterface(IID_PPV_ARGS(&extra)), S_OK);
    return extra;
}

struct bound_component {
    ComPtr<IFormattedIO488> io = create<IFormattedIO488>(L"VISA.Tellurix");

    explicit bound_component(IMessage* session) { EXPECT_EQ(io->putref_IO(session), S_OK); }
    HRESULT write(std::wstring_view command) { return io->WriteString(make_bstr(command).get(), VARIANT_TRUE); }
    // The answer; a failure shows as its outcome.
    std::wstring read()
    {
        BSTR text = nullptr;
        const HRESULT hr = io->ReadString(&text);
        const unique_bstr owned(text);
        return FAILED(hr) ? outcome(hr) : std::wstring(bstr_view(text));
    }
    std::wstring query(std::wstring_view command)
    {
        const HRESULT hr = write(command);
        return FAILED(hr) ? outcome(hr) : read();
    }
};

// The COM ports (ours, instrument-sim's) that tests/serial/with_serial_pair.sh joins, if any.
inline std::optional<std::pair<unsigned, unsigned>> serial_pair()
{
    wchar_t text[32] = {};
    unsigned mine = 0, theirs = 0;
    if (!GetEnvironmentVariableW(L"MORVANE_SERIAL_PAIR", text, 32) || swscanf(text, L"%u,%u", &mine, &theirs) != 2)
        return std::nullopt;
    return std::pair(mine, theirs);
}

// A lower-case resource name of each kind in `which` and its error source, each served by an instrument-sim.
enum kind : unsigned { sim = 1, socket = 2, vxi11 = 4, hislip = 8, serial = 16, every_kind = 31 };
struct kinds {
    ComPtr<IMorvaneResourceManager> resources = manager();
    std::vector<std::unique_ptr<instrument_server_process>> servers;
    std::vector<std::pair<std::wstring, const wchar_t*>> names;
    explicit kinds(unsigned which = every_kind, const std::wstring& options = L"")
    {
        const auto serve = [&](const std::wstring& how) -> instrument_server_process& {
            return *servers.emplace_back(
                std::make_unique<instrument_server_process>(L"..\\..\\bin\\", how + L" --seconds 120 " + options));
        };
        if (which & sim)
            names.emplace_back(L"sim", L"Morvane simulated instrument");
        if (which & socket)
            names.emplace_back(L"tcpip0::127.0.0.1::" + std::to_wstring(serve(L"").port()) + L"::socket",
                               socket_source);
        if (which & vxi11) {
            EXPECT_EQ(resources->put_PortmapperPort(serve(L"--vxi11 --portmapper-port 0").portmapper_port()), S_OK);
            names.emplace_back(L"tcpip::127.0.0.1::instr", L"Morvane VXI-11 session");
        }
        if (which & hislip)
            names.emplace_back(L"tcpip::127.0.0.1::hislip0," + std::to_wstring(serve(L"--hislip").port()) + L"::instr",
                               L"Morvane HiSLIP session");
        if (const auto pair = serial_pair(); pair && which & serial) {
            serve(L"--serial COM" + std::to_wstring(pair->second));
            names.emplace_back(L"asrl" + std::to_wstring(pair->first) + L"::instr", L"Morvane serial session");
        }
    }
};

// Each LONG property: its first value, the values it takes, those refused with `told` keeping the last.
template<typename Object> struct setting {
    HRESULT (STDMETHODCALLTYPE Object::*get)(LONG*);
    HRESULT (STDMETHODCALLTYPE Object::*put)(LONG);
    LONG initial;
    std::vector<LONG> taken, refused;
    const wchar_t* told;
};
template<typename Object>
void expect_settings(Object* object, const std::vector<setting<Object>>& settings, const wchar_t* source)
{
    for (const auto& s : settings) {
        SCOPED_TRACE(s.told);
        LONG value = -7;
        EXPECT_EQ((object->*s.get)(&value), S_OK);
        EXPECT_EQ(value, s.initial);
        for (const LONG taken : s.taken) {
            EXPECT_EQ((object->*s.put)(taken), S_OK) << taken;
            EXPECT_EQ((object->*s.get)(&value), S_OK);
            EXPECT_EQ(value, taken);
        }
        for (const LONG refused : s.refused) {
            EXPECT_EQ(outcome((object->*s.put)(refused)),
                      error_line(E_INVALIDARG, s.told, source, L"", 0, __uuidof(Object)));
            EXPECT_EQ((object->*s.get)(&value), S_OK);
            EXPECT_EQ(value, s.taken.back()) << "a refused value is not kept";
        }
    }
}

} // namespace morvane::testing
