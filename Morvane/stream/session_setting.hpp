#pragma once
// A session property changed for a call and set back on every way out. `Check` raises what a
// failing get or put means to the caller; the put on a failure's way out is not checked, as
// that failure is the one to report.
#include <windows.h>
#include <visacom.h>

namespace morvane {

template<typename Value, void (*Check)(HRESULT)> class session_setting {
public:
    using getter = HRESULT (STDMETHODCALLTYPE IMessage::*)(Value*);
    using putter = HRESULT (STDMETHODCALLTYPE IMessage::*)(Value);

    session_setting(IMessage& session, getter get, putter put) : m_session(session), m_put(put)
    {
        Check((session.*get)(&m_saved));
        m_back = m_saved;
    }
    ~session_setting()
    {
        if (!m_restored)
            static_cast<void>((m_session.*m_put)(m_back));
    }
    session_setting(const session_setting&) = delete;
    session_setting& operator=(const session_setting&) = delete;

    Value saved() const noexcept { return m_saved; }
    void set(Value value) { Check((m_session.*m_put)(value)); }
    // What the property goes back to, when that is not what it was.
    void set_back_as(Value value) noexcept { m_back = value; }
    void restore()
    {
        m_restored = true;
        set(m_back);
    }
    // The call leaves the property as it found it, without putting it again.
    void keep() noexcept { m_restored = true; }

private:
    IMessage& m_session;
    putter m_put;
    Value m_saved{};
    Value m_back{};
    bool m_restored = false;
};

} // namespace morvane
