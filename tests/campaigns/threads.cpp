// Threads: eight threads share one object, each writing its own tagged messages to a session that
// echoes them and reading the responses; then eight threads do the same on eight objects; then
// eight threads create and release objects through the class object of the shipped module. Each
// response must be one whole message (a message mixed at the session comes back mixed), the
// session must never see two calls at once, and the module must be unloadable at the end.
#include <cstdio>
#include <thread>
#include <utility>
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

// Message i of a thread: its tag, then letters to a length that spans chunks.
std::string message(int thread, int i)
{
    return ("T" + std::to_string(thread) + ":" + std::to_string(i) + ":").append((thread * 977 + i * 131) % 2600, char('a' + (thread + i) % 26)) + "\n";
}

// Runs body(thread, failures) on eight threads at once.
template <typename Body>
void on_threads(trial& t, Body&& body)
{
    std::wstring failures[8];
    for (std::vector<std::jthread> threads; threads.size() < 8;)
        threads.emplace_back([&, thread = static_cast<int>(threads.size())] { body(thread, failures[thread]); });
    for (const std::wstring& failed : failures)
        t.expect(failed.empty(), failed);
}

// A session that answers each message with the message itself.
scripted_session& echo(scripted_session& session)
{
    session.on_call([&session, pending = std::string()](const session_call& call) mutable {
        pending += call.op == session_op::write ? call.bytes : "";
        if (call.op == session_op::write && call.send_end)
            session.add_chunk(std::exchange(pending, {}), status_end);
    });
    return session;
}

void exchange_messages(IFormattedIO488* io, int thread, std::wstring& failed)
{
    for (int i = 0; i < 40; ++i) {
        const std::string sent = message(thread, i);
        BSTR response = nullptr;
        const HRESULT written = io->WriteString(bstr(wide(sent.substr(0, sent.size() - 1))).get(), VARIANT_TRUE), read = io->ReadString(&response);
        const std::wstring text(bstr_view(unique_bstr(response).get()));
        int from = -1, index = -1;
        if (written != S_OK || read != S_OK || std::swscanf(text.c_str(), L"T%d:%d:", &from, &index) != 2 || from < 0 || from > 7 || index < 0 ||
            index > 39 || text != wide(message(from, index)))
            failed += L"after " + wide(sent.substr(0, 8)) + L" a response " + text.substr(0, 8) + L"\n";
    }
}

} // namespace

void threads(trial& t)
{
    scripted_session shared_session;
    com_ptr<IFormattedIO488> shared = make_fmtdio();
    shared->putref_IO(&echo(shared_session));
    on_threads(t, [&](int thread, std::wstring& failed) { exchange_messages(shared.Get(), thread, failed); });
    t.expect(shared_session.overlaps() == 0, L"the session saw calls at once: " + std::to_wstring(shared_session.overlaps()));
    on_threads(t, [&](int thread, std::wstring& failed) {
        scripted_session session;
        com_ptr<IFormattedIO488> own = make_fmtdio();
        own->putref_IO(&echo(session));
        exchange_messages(own.Get(), thread, failed);
    });
    static const HMODULE module = [] {
        wchar_t path[MAX_PATH];
        const std::wstring name(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        return LoadLibraryW((name.substr(0, name.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\Morvane.dll").c_str());
    }();
    const auto entry = [](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(module, name)); };
    const auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(entry("DllGetClassObject"));
    const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(entry("DllCanUnloadNow"));
    on_threads(t, [&](int, std::wstring& failed) {
        const CLSID fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
        for (int round = 0; round < 25; ++round) {
            com_ptr<IClassFactory> factory;
            std::vector<com_ptr<IFormattedIO488>> objects(16);
            for (auto& object : objects)
                if (FAILED(get_class_object(fmtdio, IID_IClassFactory, &factory)) || FAILED(factory->CreateInstance(nullptr, IID_IFormattedIO488, &object)))
                    failed = L"a creation failed";
            if (can_unload() != S_FALSE)
                failed = L"unloadable while objects live";
        }
    });
    t.expect(can_unload() == S_OK, L"the module cannot unload after the storm");
}

} // namespace morvane::campaigns
