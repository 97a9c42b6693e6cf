// Threads: eight threads share one object, each writing its own tagged messages and reading
// responses back; eight threads work on eight objects at once; eight threads create and release
// objects through the class object of the shipped module. Every message must reach the session
// whole, every response must be read whole, the session must never see two calls at once, and
// the module must be unloadable at the end.
#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

constexpr int thread_count = 8, messages_per_thread = 40;

// Message i of a thread: its tag, then letters up to a length that spans several chunks.
std::string message(int thread, int i)
{
    std::string text = "T" + std::to_string(thread) + ":" + std::to_string(i) + ":";
    text.resize(static_cast<std::size_t>((thread * 977 + i * 131) % 2600 + 8), static_cast<char>('a' + (thread + i) % 26));
    return text + "\n";
}

// Whether the bytes are one whole message of some thread.
bool whole_message(const std::string& bytes)
{
    int thread = -1, i = -1;
    return std::sscanf(bytes.c_str(), "T%d:%d:", &thread, &i) == 2 && thread >= 0 && thread < thread_count && i >= 0 &&
           i < messages_per_thread && bytes == message(thread, i);
}

// A session that answers each message with the message itself, as a response of one chunk.
void echo(scripted_session& session)
{
    session.on_call([&session, pending = std::string()](const session_call& call) mutable {
        if (call.op != session_op::write)
            return;
        pending += call.bytes;
        if (call.send_end)
            session.add_chunk(std::exchange(pending, {}), status_end);
    });
}

void exchange_messages(IFormattedIO488* io, int thread, std::vector<std::string>& failures)
{
    for (int i = 0; i < messages_per_thread; ++i) {
        const std::string sent = message(thread, i);
        BSTR response = nullptr;
        const HRESULT written = io->WriteString(bstr(std::wstring(sent.begin(), sent.end() - 1)).get(), VARIANT_TRUE);
        const HRESULT read = io->ReadString(&response);
        const unique_bstr owned(response);
        const std::wstring text(bstr_view(response));
        if (written != S_OK || read != S_OK || !whole_message(std::string(text.begin(), text.end())))
            failures.push_back(sent.substr(0, 12));
    }
}

// Every message that the session received, cut where END went out, is whole.
void expect_whole_messages(trial& t, const scripted_session& session, std::size_t count)
{
    std::vector<std::string> messages(1);
    for (const session_call& call : session.calls()) {
        if (call.op == session_op::write)
            messages.back() += call.bytes;
        if (call.op == session_op::write && call.send_end)
            messages.emplace_back();
    }
    messages.pop_back();
    t.expect(messages.size() == count && std::ranges::all_of(messages, whole_message), L"messages mixed at the session");
    t.expect(session.overlaps() == 0, L"the session saw calls at once: " + std::to_wstring(session.overlaps()));
}

// Runs body(thread) on eight threads at once; what each reports failed is shown.
template <typename Body>
void on_threads(trial& t, Body&& body)
{
    std::vector<std::vector<std::string>> failures(thread_count);
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < thread_count; ++thread)
            threads.emplace_back([&, thread] { body(thread, failures[static_cast<std::size_t>(thread)]); });
    }
    for (const auto& failed : failures)
        for (const std::string& tag : failed)
            t.expect(false, L"exchange failed: " + std::wstring(tag.begin(), tag.end()));
}

using entry = HRESULT(STDAPICALLTYPE*)();

// The shipped module, loaded once for the program.
HMODULE shipped_module()
{
    static const HMODULE module = [] {
        wchar_t path[MAX_PATH];
        std::wstring name(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        name = name.substr(0, name.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\Morvane.dll";
        return LoadLibraryW(name.c_str());
    }();
    return module;
}

void storm(trial& t)
{
    constexpr CLSID fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
    const auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(shipped_module(), "DllGetClassObject")));
    const auto can_unload = reinterpret_cast<entry>(reinterpret_cast<void (*)()>(GetProcAddress(shipped_module(), "DllCanUnloadNow")));
    if (!t.expect(get_class_object && can_unload, L"Morvane.dll not loaded"))
        return;
    on_threads(t, [&](int, std::vector<std::string>& failures) {
        com_ptr<IClassFactory> factory;
        if (FAILED(get_class_object(fmtdio, IID_IClassFactory, &factory)))
            return failures.push_back("class object");
        std::vector<com_ptr<IFormattedIO488>> objects(16);
        for (int round = 0; round < 25; ++round) {
            factory->LockServer(TRUE);
            for (auto& object : objects)
                if (FAILED(factory->CreateInstance(nullptr, IID_IFormattedIO488, &object)))
                    failures.push_back("creation");
            if (can_unload() != S_FALSE)
                failures.push_back("unloadable while objects live");
            objects.assign(objects.size(), nullptr);
            factory->LockServer(FALSE);
        }
    });
    t.expect(can_unload() == S_OK, L"the module cannot unload after the storm");
}

} // namespace

void threads(trial& t)
{
    {
        scripted_session session;
        echo(session);
        com_ptr<IFormattedIO488> shared = make_fmtdio();
        shared->putref_IO(&session);
        on_threads(t, [&](int thread, std::vector<std::string>& failures) { exchange_messages(shared.Get(), thread, failures); });
        expect_whole_messages(t, session, thread_count * messages_per_thread);
        shared.Reset();
        t.expect(session.references() == 0, L"session references kept");
    }
    on_threads(t, [&](int thread, std::vector<std::string>& failures) {
        scripted_session session;
        echo(session);
        com_ptr<IFormattedIO488> own = make_fmtdio();
        own->putref_IO(&session);
        exchange_messages(own.Get(), thread, failures);
        own.Reset();
        if (session.references() != 0)
            failures.push_back("session references kept");
    });
    storm(t);
}

} // namespace morvane::campaigns
