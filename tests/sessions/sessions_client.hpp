#pragma once
// The sessions server as a client reaches it: registered in this test's own prefix, created by
// its program identifier through COM, with the component beside it.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <visacom.h>
#include <morvane_sessions.h>
#include <wrl/client.h>
#include "platform/bstr.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {

using Microsoft::WRL::ComPtr;

inline constexpr CLSID clsid_resource_manager = {
    0x31b02d3b, 0x1942, 0x4e5a, {0xa9, 0xbd, 0x16, 0xd4, 0x5f, 0x20, 0x23, 0xe0}};
inline constexpr const wchar_t* manager_source = L"Morvane.ResourceManager";
inline constexpr const wchar_t* socket_source = L"Morvane TCP socket session";

// An object of a registered class, made from its program identifier.
template<typename Interface> ComPtr<Interface> create(const wchar_t* progid)
{
    CLSID clsid{};
    ComPtr<Interface> object;
    EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Interface), &object), S_OK);
    return object;
}

inline ComPtr<IMorvaneResourceManager> manager() { return create<IMorvaneResourceManager>(L"Morvane.ResourceManager"); }

// A session opened by name; a failure shows as its outcome.
inline std::wstring open(IMorvaneResourceManager* resources, std::wstring_view name, LONG timeout,
                         ComPtr<IMessage>& session)
{
    const HRESULT hr = resources->Open(make_bstr(name).get(), timeout, &session);
    return FAILED(hr) ? outcome(hr) : L"open";
}

// The session's own interface.
inline ComPtr<IMorvaneSession> own(IMessage* session)
{
    ComPtr<IMorvaneSession> extra;
    EXPECT_EQ(session->QueryInterface(IID_PPV_ARGS(&extra)), S_OK);
    return extra;
}

// The component bound to a session, for queries.
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

// The serial pair that tests/serial/with_serial_pair.sh joins (MORVANE_SERIAL_PAIR: the
// session's COM port number and instrument-sim's), when the tests run with one.
inline std::optional<std::pair<unsigned, unsigned>> serial_pair()
{
    wchar_t text[32] = {};
    unsigned mine = 0, theirs = 0;
    if (!GetEnvironmentVariableW(L"MORVANE_SERIAL_PAIR", text, 32) || swscanf(text, L"%u,%u", &mine, &theirs) != 2)
        return std::nullopt;
    return std::pair(mine, theirs);
}

} // namespace morvane::testing
