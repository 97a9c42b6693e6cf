// Each COM method of the sessions' server meets a failed allocation and an unexpected exception.
#include <gtest/gtest.h>
#include <functional>
#include "com/call_boundary.hpp"
#include "com/com_object.hpp"
#include "scripted_core.hpp"
#include "server/resource_manager.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

using method_row = std::tuple<const char*, const GUID*, std::function<HRESULT()>>;
// clang-format off
#define ROW(interface_id, call) {#call, &interface_id, [&] { return call; }}
// clang-format on

void expect_contained(const wchar_t* source, const std::vector<method_row>& rows)
{
    for (const auto& [failure, expected] : {std::pair{injected_failure::out_of_memory, E_OUTOFMEMORY},
                                            std::pair{injected_failure::unexpected, E_UNEXPECTED}})
        for (const auto& [call, interface_id, run] : rows) {
            inject_failure(failure);
            std::wstring got = outcome(run());
            inject_failure(injected_failure::none);
            const std::size_t description = got.find(L" [") + 2, length = got.find(L"] [") - description;
            EXPECT_GT(length, 0u) << call;
            EXPECT_EQ(got.erase(description, length), error_line(expected, L"", source, L"", 0, *interface_id)) << call;
        }
}

TEST(SessionsBoundary, EveryMethodAnswersFailuresThatEscapeItsBodyWithItsOwnRecord)
{
    const transport::winsock_use winsock;
    const auto m = com_object<sessions::resource_manager>::make<IMorvaneResourceManager>();
    ComPtr<ISupportErrorInfo> info;
    ASSERT_EQ(m.As(&info), S_OK);
    const GUID &rm = IID_IMorvaneResourceManager, &message = IID_IMessage, &own = IID_IMorvaneSession;
    expect_contained(L"Morvane.ResourceManager",
                     {ROW(rm, m->Open(nullptr, 1, nullptr)), ROW(rm, m->FindResources(nullptr, nullptr)),
                      ROW(rm, m->get_ResourceForms(nullptr)), ROW(rm, m->get_PortmapperPort(nullptr)),
                      ROW(rm, m->put_PortmapperPort(111)), ROW(rm, m->get_DiscoveryAddresses(nullptr)),
                      ROW(rm, m->put_DiscoveryAddresses(nullptr)), ROW(rm, m->get_DiscoveryTimeout(nullptr)),
                      ROW(rm, m->put_DiscoveryTimeout(1)), ROW(rm, m->get_CorePort(nullptr)),
                      ROW(rm, m->put_CorePort(0)), ROW(rm, info->InterfaceSupportsErrorInfo(rm))});
    const transport::tcp_listener listener; // its backlog takes the connection
    const scripted_core core;
    ASSERT_EQ(m->put_CorePort(core.port()), S_OK);
    for (const auto& [source, name] :
         {std::pair<const wchar_t*, std::wstring>{L"Morvane simulated instrument", L"SIM"},
          {L"Morvane TCP socket session", L"TCPIP::127.0.0.1::" + std::to_wstring(listener.port()) + L"::SOCKET"},
          {L"Morvane VXI-11 session", L"TCPIP::127.0.0.1::inst0::INSTR"}}) {
        ComPtr<IMessage> s;
        ComPtr<IMorvaneSession> o;
        ComPtr<IMorvaneSessionLimits> l;
        ComPtr<IMorvaneServiceRequests> r;
        ComPtr<ISupportErrorInfo> i; // released with the session, before the core it is linked to
        ASSERT_EQ(m->Open(make_bstr(name).get(), 2000, &s) | s.As(&o) | s.As(&l) | s.As(&r) | s.As(&i), S_OK);
        const GUID &requests = IID_IMorvaneServiceRequests, &limits = IID_IMorvaneSessionLimits;
        // clang-format off
        expect_contained(source, {
            ROW(message, s->Write(nullptr, 0, nullptr)), ROW(message, s->Read(1, nullptr)),
            ROW(message, s->ReadString(1, nullptr)), ROW(message, s->get_LastStatus(nullptr)),
            ROW(message, s->get_SendEndEnabled(nullptr)), ROW(message, s->put_SendEndEnabled(0)),
            ROW(message, s->get_TerminationCharacterEnabled(nullptr)), ROW(message, s->put_TerminationCharacterEnabled(0)),
            ROW(message, s->get_Timeout(nullptr)), ROW(message, s->put_Timeout(2000)),
            ROW(own, o->get_ResourceName(nullptr)), ROW(own, o->get_TerminationCharacter(nullptr)),
            ROW(own, o->put_TerminationCharacter('\n')), ROW(own, o->Clear()), ROW(own, o->ReadStatusByte(nullptr)),
            ROW(own, o->AssertTrigger()), ROW(limits, l->get_MaximumMessageSize(nullptr)),
            ROW(limits, l->put_MaximumMessageSize(1)), ROW(requests, r->EnableServiceRequests()),
            ROW(requests, r->DisableServiceRequests()), ROW(requests, r->WaitForServiceRequest(0, nullptr)),
            ROW(requests, r->DiscardServiceRequests()), ROW(requests, r->get_QueuedServiceRequests(nullptr)),
            ROW(requests, r->get_DroppedServiceRequests(nullptr)), ROW(message, i->InterfaceSupportsErrorInfo(message))});
        // clang-format on
    }
}

} // namespace
} // namespace morvane::testing
