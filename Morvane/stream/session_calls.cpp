#include "stream/session_calls.hpp"

#include <algorithm>
#include "error/errors.hpp"
#include "platform/bstr.hpp"

namespace morvane {

void write_bytes(IMessage& session, std::span<const unsigned char> bytes)
{
    unique_safearray array = make_byte_array(bytes.size());
    {
        safearray_data data(array.get());
        std::ranges::copy(bytes, static_cast<unsigned char*>(data.get()));
    }
    SAFEARRAY* passed = array.get();
    long written = 0;
    check_session(session.Write(&passed, static_cast<long>(bytes.size()), &written));
}

void write_bytes_without_end(IMessage& session, std::span<const unsigned char> bytes)
{
    VARIANT_BOOL send_end = VARIANT_FALSE;
    check_session(session.get_SendEndEnabled(&send_end));
    if (send_end != VARIANT_TRUE) {
        write_bytes(session, bytes);
        return;
    }
    check_session(session.put_SendEndEnabled(VARIANT_FALSE));
    try {
        write_bytes(session, bytes);
    } catch (...) {
        session.put_SendEndEnabled(VARIANT_TRUE);
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
    } while (status == status_count_reached);
}

} // namespace morvane
