#pragma once
// What the network sessions that lock their instrument against other clients add to the message
// sessions: IMorvaneLocking, in the same boundary and under the same lock as their other methods.
//
// A session class defines, besides what message_session asks:
//     HRESULT lock(LONG timeout_ms, std::wstring_view shared_name); // empty: exclusive
//     HRESULT unlock();
// and keeps m_lock_state (lock_none, lock_exclusive or lock_shared) as its locks come and go.
#include "message_session.hpp"
#include "platform/bstr.hpp"

namespace morvane {

inline constexpr LONG lock_none = 0, lock_exclusive = 1, lock_shared = 2;

template<typename Session> class locking_session : public message_session<Session>, public IMorvaneLocking {
    using base = message_session<Session>;

public:
    using interfaces = interface_list<IMessage, IMorvaneSession, IMorvaneSessionLimits, IMorvaneLocking,
                                      IMorvaneServiceRequests, IConnectionPointContainer, ISupportErrorInfo>;

    STDMETHODIMP Lock(LONG timeout_ms, BSTR shared_name) final
    {
        return base::frame(IID_IMorvaneLocking, [&] {
            if (timeout_ms < 0)
                return base::report(E_INVALIDARG, L"The lock's timeout must not be negative.", IID_IMorvaneLocking);
            const std::lock_guard guard(base::m_lock);
            return base::session().lock(timeout_ms, bstr_view(shared_name));
        });
    }
    STDMETHODIMP Unlock() final
    {
        return base::frame(IID_IMorvaneLocking, [&] {
            const std::lock_guard guard(base::m_lock);
            return base::session().unlock();
        });
    }
    STDMETHODIMP get_LockState(LONG* state) final { return base::get(m_lock_state, state, IID_IMorvaneLocking); }

protected:
    using base::base;

    LONG m_lock_state = lock_none;
};

} // namespace morvane
