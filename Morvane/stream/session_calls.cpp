#include "stream/session_calls.hpp"

#include "error/errors.hpp"
#include "platform/bstr.hpp"
#include "stream/session_setting.hpp"

namespace morvane {
namespace {

void write_array(IMessage& session, SAFEARRAY* bytes)
{
    long written = 0;
    check_session(session.Write(&bytes, static_cast<long>(bytes->rgsabound[0].cElements), &written));
}

} // namespace

void write_bytes(IMessage& session, SAFEARRAY* bytes, bool end_allowed)
{
    if (end_allowed) {
        write_array(session, bytes);
        return;
    }
    session_setting<VARIANT_BOOL, check_session> send_end(session, &IMessage::get_SendEndEnabled,
                                                          &IMessage::put_SendEndEnabled);
    if (send_end.saved() == VARIANT_FALSE) { // any other value is true
        send_end.keep();
        write_array(session, bytes);
        return;
    }
    send_end.set_back_as(VARIANT_TRUE);
    send_end.set(VARIANT_FALSE);
    write_array(session, bytes);
    send_end.restore();
}

read_result read_bytes(IMessage& session, long count)
{
    SAFEARRAY* received = nullptr;
    check_session(session.Read(count, &received));
    read_result result{unique_safearray(received), 0};
    check_session(session.get_LastStatus(&result.status));
    return result;
}

void drain_message(IMessage& session)
{
    constexpr long drain_count = 1000;
    long status = 0;
    do {
        BSTR text = nullptr;
        const HRESULT hr = session.ReadString(drain_count, &text);
        unique_bstr dropped(text);
        check_session(hr);
        check_session(session.get_LastStatus(&status));
    } while (status == session::status_count_reached);
}

} // namespace morvane
