#pragma once
// Some clients run with floating-point exceptions unmasked (overflow, invalid operation and
// division by zero are the development environments' usual choice). The conversions of a call,
// ours and the platform's, raise those flags on purpose (a NaN or an overflow becomes a value or
// an HRESULT), so a call runs with every exception masked and gives the client its mask back,
// and its flags as they were: none that the call raised, none of the client's lost.
#include <cfenv>
#include <float.h>

namespace morvane {

class float_exceptions_masked {
public:
    float_exceptions_masked() noexcept
    {
        // All masked is the platform's default: then nothing is changed, at the cost of one read.
        unsigned int masked = 0;
        m_changed = _controlfp_s(&m_client, 0, 0) == 0 && (m_client & _MCW_EM) != _MCW_EM &&
                    std::fegetexceptflag(&m_flags, FE_ALL_EXCEPT) == 0 && _controlfp_s(&masked, _MCW_EM, _MCW_EM) == 0;
    }
    ~float_exceptions_masked()
    {
        if (!m_changed)
            return;
        // Only the flags of masked exceptions go back: a flag set under an unmasked one traps.
        std::feclearexcept(FE_ALL_EXCEPT);
        std::fesetexceptflag(&m_flags, masked_flags());
        unsigned int restored = 0;
        _controlfp_s(&restored, m_client, _MCW_EM);
    }
    float_exceptions_masked(const float_exceptions_masked&) = delete;
    float_exceptions_masked& operator=(const float_exceptions_masked&) = delete;

private:
    int masked_flags() const noexcept
    {
        constexpr struct {
            unsigned int mask;
            int flag;
        } pairs[] = {{_EM_INVALID, FE_INVALID},
                     {_EM_ZERODIVIDE, FE_DIVBYZERO},
                     {_EM_OVERFLOW, FE_OVERFLOW},
                     {_EM_UNDERFLOW, FE_UNDERFLOW},
                     {_EM_INEXACT, FE_INEXACT}};
        int flags = 0;
        for (const auto& pair : pairs)
            flags |= (m_client & pair.mask) ? pair.flag : 0;
        return flags;
    }

    unsigned int m_client = 0;
    std::fexcept_t m_flags{};
    bool m_changed = false;
};

} // namespace morvane
