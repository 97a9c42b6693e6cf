#include "stream/session_calls.hpp"

#include "error/errors.hpp"
#include "platform/bstr.hpp"

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
    VARIANT_BOOL send_end = VARIANT_FALSE;
    if (!end_allowed)
        check_session(session.get_SendEndEnabled(&send_end));
    if (send_end == VARIANT_FALSE) { // any other value is true
        write_array(session, bytes);
        return;
    }
    check_session(session.put_SendEndEnabled(VARIANT_FALSE));
    try {
        write_array(session, bytes);
    } catch (...) {
        session.put_SendEndEnabled(VARIANT_TRUE); // the write's own failure is the one to report
        throw;
    }
    check_session(session.put_SendEndEnabled(VARIANT_TRUE));
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
