#include "events/sink_delivery.hpp"

#include <olectl.h>
#include <system_error>
#include <vector>
#include <morvane_sessions.h>
#include "com/module_lock.hpp"
#include "platform/com_apartment.hpp"

namespace morvane::events {

using Microsoft::WRL::ComPtr;

sink_delivery::state::~state()
{
    for (const auto& [cookie, entry] : sinks)
        table->RevokeInterfaceFromGlobal(entry);
}

sink_delivery::sink_delivery(IUnknown* session) : m_shared(std::make_shared<state>(session)) {}

sink_delivery::~sink_delivery() { stop(); }

void sink_delivery::stop() noexcept
{
    {
        const std::lock_guard guard(m_shared->lock);
        m_shared->stopping = true;
    }
    m_shared->posted.notify_all();
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id()) {
        m_thread.detach();
        return;
    }
    HANDLE finished = m_shared->finished.get();
    DWORD index = 0;
    // Outside a single-threaded apartment this only waits; inside one it pumps, so that the
    // thread's call into this apartment can end.
    if (finished && FAILED(CoWaitForMultipleHandles(0, INFINITE, 1, &finished, &index)))
        WaitForSingleObject(finished, INFINITE);
    m_thread.join();
}

HRESULT sink_delivery::advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    ComPtr<IMorvaneServiceRequestSink> typed;
    if (FAILED(sink->QueryInterface(IID_PPV_ARGS(&typed))))
        return CONNECT_E_CANNOTCONNECT;
    state& shared = *m_shared;
    const std::lock_guard guard(shared.lock);
    if (!shared.table) {
        if (const HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_PPV_ARGS(&shared.table));
            FAILED(hr))
            return hr;
    }
    DWORD entry = 0;
    if (const HRESULT hr = shared.table->RegisterInterfaceInGlobal(typed.Get(), IID_IMorvaneServiceRequestSink, &entry);
        FAILED(hr))
        return hr;
    if (!m_thread.joinable()) {
        if (!shared.finished)
            return E_OUTOFMEMORY;
        try {
            m_thread = std::thread(deliver, m_shared);
        } catch (const std::system_error&) {
            shared.table->RevokeInterfaceFromGlobal(entry);
            return E_OUTOFMEMORY;
        }
    }
    *cookie = shared.next_cookie++;
    shared.sinks[*cookie] = entry;
    return S_OK;
}

HRESULT sink_delivery::unadvise(DWORD cookie)
{
    state& shared = *m_shared;
    DWORD entry = 0;
    {
        const std::lock_guard guard(shared.lock);
        const auto found = shared.sinks.find(cookie);
        if (found == shared.sinks.end())
            return CONNECT_E_NOCONNECTION;
        entry = found->second;
        shared.sinks.erase(found);
    }
    // A call in progress holds its own reference: the sink goes after it.
    return shared.table->RevokeInterfaceFromGlobal(entry);
}

void sink_delivery::post(short status_byte)
{
    state& shared = *m_shared;
    {
        const std::lock_guard guard(shared.lock);
        if (shared.sinks.empty() || shared.stopping)
            return;
        if (shared.pending.size() == backlog)
            shared.pending.pop_front();
        shared.pending.push_back(status_byte);
    }
    shared.posted.notify_one();
}

void sink_delivery::deliver(std::shared_ptr<state> shared)
{
    module_lock::add(); // the module's code runs here until the thread ends
    {
        const com_apartment com(COINIT_MULTITHREADED);
        std::unique_lock guard(shared->lock);
        while (SUCCEEDED(com.result())) {
            shared->posted.wait(guard, [&] { return shared->stopping || !shared->pending.empty(); });
            if (shared->stopping)
                break;
            const short status_byte = shared->pending.front();
            shared->pending.pop_front();
            std::vector<ComPtr<IMorvaneServiceRequestSink>> sinks;
            for (const auto& [cookie, entry] : shared->sinks) {
                ComPtr<IMorvaneServiceRequestSink> sink;
                if (SUCCEEDED(shared->table->GetInterfaceFromGlobal(entry, IID_PPV_ARGS(&sink))))
                    sinks.push_back(std::move(sink));
            }
            guard.unlock();
            for (const auto& sink : sinks) {
                guard.lock();
                const bool session_gone = shared->stopping; // released by the sink called before
                guard.unlock();
                if (session_gone)
                    break;
                try {
                    sink->ServiceRequest(shared->session, status_byte); // what a sink answers is its own affair
                } catch (...) {}
            }
            sinks.clear();
            guard.lock();
        }
    }
    if (shared->finished)
        SetEvent(shared->finished.get());
    shared.reset();
    module_lock::release();
}

} // namespace morvane::events
