// Leaks: a thousand random calls on one object, each after what those before it left pending,
// which a later call reads or drains.
#include "campaign.hpp"

namespace morvane::campaigns {

void leaks(trial& t)
{
    scripted_session session;
    ComPtr<IFormattedIO488> io = bound(session);
    for (int i = 0; i < 1000 && !t.failures; ++i) {
        argument_store store;
        const call c = random_call(t, store);
        respond(session, c.m);
        run_call(t, c, io, session);
        if (c.m == method::put_io)
            io->putref_IO(&session);
    }
    io.Reset();
    t.expect(session.references() == 0, L"session references kept");
}

} // namespace morvane::campaigns
