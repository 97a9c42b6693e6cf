#pragma once
// Some clients run with floating-point exceptions unmasked (overflow, invalid operation and
// division by zero are the development environments' usual choice). The conversions of a call,
// ours and the platform's, raise those flags on purpose (a NaN or an overflow becomes a value or
// an HRESULT), so a call runs with every exception masked and gives the client its mask back,
// and its flags as they were: none that the call raised, none of the client's lost.
#include <float.h>
#include <xmmintrin.h>

namespace morvane {

class float_exceptions_masked {
public:
    float_exceptions_masked() noexcept
    {
        // All masked is the platform's default: then nothing is changed, at the cost of one read.
        unsigned int masked = 0;
        m_sse = _mm_getcsr();
        m_changed = _controlfp_s(&m_client, 0, 0) == 0 && (m_client & _MCW_EM) != _MCW_EM &&
                    _controlfp_s(&masked, _MCW_EM, _MCW_EM) == 0;
    }
    ~float_exceptions_masked()
    {
        if (!m_changed)
            return;
        // The x87 unit's flags go (one left under an unmasked exception would trap there). The SSE
        // unit, where a 64-bit client's arithmetic runs, gets its flags and mask back whole: loading
        // them raises nothing.
        _clearfp();
        unsigned int restored = 0;
        _controlfp_s(&restored, m_client, _MCW_EM);
        _mm_setcsr(m_sse);
    }
    float_exceptions_masked(const float_exceptions_masked&) = delete;
    float_exceptions_masked& operator=(const float_exceptions_masked&) = delete;

private:
    unsigned int m_client = 0, m_sse = 0;
    bool m_changed = false;
};

} // namespace morvane
