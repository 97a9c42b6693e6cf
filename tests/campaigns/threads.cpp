// Threads: eight share one object, then use eight, each response the whole echo of its message, never two
// session calls at once. Then eight create and release objects of the shipped module.
#include <latch>
#include <thread>
#include "campaign.hpp"
#include "support/shipped_files.hpp"

namespace morvane::campaigns {
namespace {

std::string message(int thread, int i) // its tag, then letters to a length that spans chunks
{
    const std::string tag = "T" + std::to_string(thread) + ":" + std::to_string(i) + ":";
    return tag + std::string((thread * 977 + i * 131) % 2600, char('a' + (thread + i) % 26)) + "\n";
}

template<typename Body> void on_threads(trial& t, Body&& body)
{
    std::wstring failures[8];
    for (std::vector<std::jthread> threads; threads.size() < 8;)
        threads.emplace_back([&, thread = static_cast<int>(threads.size())] { body(thread, failures[thread]); });
    for (const std::wstring& failure : failures)
        t.expect(failure.empty(), failure);
}

ComPtr<IFormattedIO488> echoing(scripted_session& session)
{
    session.on_call([&session, pending = std::string()](const session_call& call) mutable {
        pending += call.op == session_op::write ? call.bytes : "";
        if (call.op == session_op::write && call.send_end)
            session.add_chunk(std::exchange(pending, {}), status_end);
    });
    return bound(session);
}

} // namespace

void threads(trial& t)
{
    scripted_session shared_session;
    const ComPtr<IFormattedIO488> shared = echoing(shared_session);
    for (const bool own : {false, true})
        on_threads(t, [&](int thread, std::wstring& failure) {
            scripted_session session;
            const ComPtr<IFormattedIO488> object = own ? echoing(session) : shared;
            for (int i = 0; i < 40; ++i) {
                const std::string sent = message(thread, i);
                const HRESULT written =
                    object->WriteString(bstr(wide(sent.substr(0, sent.size() - 1))).get(), VARIANT_TRUE);
                const auto [read, response] = read_string(object.Get());
                int from = -1, index = -1;
                const bool tagged = written == S_OK && read == S_OK &&
                                    std::swscanf(response.c_str(), L"T%d:%d:", &from, &index) == 2 && from >= 0 &&
                                    from <= 7 && index >= 0 && index <= 39;
                if (!tagged || response != wide(message(from, index)))
                    failure += L"after " + wide(sent.substr(0, 8)) + L" a response " + response.substr(0, 8) + L"\n";
            }
        });
    const int overlaps = shared_session.overlaps();
    t.expect(overlaps == 0, L"the session saw calls at once: " + std::to_wstring(overlaps));
    static const HMODULE module = LoadLibraryW(shipped_file(L"Morvane.dll").c_str());
    const auto get_class_object = entry<HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**)>(module, "DllGetClassObject");
    const auto can_unload = entry<HRESULT STDAPICALLTYPE()>(module, "DllCanUnloadNow");
    std::latch together(8);
    on_threads(t, [&](int, std::wstring& failure) {
        ComPtr<IClassFactory> factory;
        for (int round = 0; round < 25; ++round) {
            std::vector<ComPtr<IFormattedIO488>> objects(16);
            for (auto& object : objects)
                if (FAILED(get_class_object(clsid_fmtdio, IID_IClassFactory, &factory)) ||
                    FAILED(factory->CreateInstance(nullptr, IID_IFormattedIO488, &object)))
                    failure = L"a creation failed";
        }
        together.arrive_and_wait(); // all at once, so that a count kept without atomic updates loses some
        for (int lock = 0; lock < 20000; ++lock) {
            factory->LockServer(TRUE);
            factory->LockServer(FALSE);
        }
    });
    t.expect(can_unload() == S_OK, L"the module cannot unload after the storm");
}

} // namespace morvane::campaigns
