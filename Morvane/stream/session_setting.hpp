#pragma once
// A session property changed for a call and set back on every way out. `Check` raises what a
// failing get or put means to the caller; the put on a failure's way out is not checked, as
// that failure is the one to report.
#include <windows.h>
#include <visacom.h>

namespace morvane {

template <typename Value, void (*Check)(HRESULT)>
class session_setting {
public:
    using getter = HRESULT (STDMETHODCALLTYPE IMessage::*)(Value*);
    using putter = HRESULT (STDMETHODCALLTYPE IMessage::*)(Value);

    session_setting(IMessage& session, getter get, putter put) : session_(session), put_(put)
    {
        Check((session.*get)(&saved_));
        back_ = saved_;
    }
    ~session_setting()
    {
        if (!restored_)
            static_cast<void>((session_.*put_)(back_));
    }
    session_setting(const session_setting&) = delete;
    session_setting& operator=(const session_setting&) = delete;

    Value saved() const noexcept { return saved_; }
    void set(Value value) { Check((session_.*put_)(value)); }
    // What the property goes back to, when that is not what it was.
    void set_back_as(Value value) noexcept { back_ = value; }
    void restore()
    {
        restored_ = true;
        set(back_);
    }
    // The call leaves the property as it found it, without putting it again.
    void keep() noexcept { restored_ = true; }

private:
    IMessage& session_;
    putter put_;
    Value saved_{};
    Value back_{};
    bool restored_ = false;
};

} // namespace morvane
