// `campaigns NAME [ITERATIONS [SEED]]`: the trials of the replay file (lines "NAME SEED what it
// found"), then ITERATIONS trials seeded SEED, SEED + 1, ... A trial fails when it leaves a block
// allocated: operator new and delete are replaced for the whole program, the component's library
// included, and a spy watches the task allocator, which holds strings and safe arrays once the
// string cache is off. Either can be made to fail.
#include <atomic>
#include <fstream>
#include <sstream>
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

std::atomic<long long> live_new = 0, live_com = 0, excused = 0, made = 0;
thread_local long countdown = 0;
thread_local bool counting = false, failed = false, reallocated = false;

bool failing_now() noexcept
{
    return counting && countdown > 0 && scripted_session::calls_in_progress == 0 && --countdown == 0 && (failed = true);
}

struct malloc_spy final : IMallocSpy {
    STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = this, S_OK; } // asked for IMallocSpy alone
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return failing_now() ? 0 : size; } // 0 bytes: a failure
    STDMETHODIMP_(void*) PostAlloc(void* block) override { return live_com += !!block, made += !!block, block; }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL spied) override { return live_com -= block && spied, block; }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** to, BOOL spied) override { return reallocated = block && spied, *to = block, size; }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return live_com += !!block - reallocated, made += block && !reallocated, block; }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
} spy;

// Registered before main, so that every task allocation is seen.
const bool spying = [] {
    reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryW(L"oleaut32.dll"), "SetOaNoCache")))();
    return SUCCEEDED(CoRegisterMallocSpy(&spy));
}();

} // namespace

allocation_counts allocations() noexcept { return {live_new, live_com - excused}; }
void excuse_task_blocks(long long count) noexcept { excused += count; }
bool allocation_failed() noexcept { return failed; }

HRESULT with_failing_allocation(long nth, const std::function<HRESULT()>& call)
{
    countdown = nth, failed = false, counting = true;
    const HRESULT hr = call();
    return counting = false, hr;
}

} // namespace morvane::campaigns

void* operator new(std::size_t size)
{
    void* block = morvane::campaigns::failing_now() ? nullptr : std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return ++morvane::campaigns::live_new, ++morvane::campaigns::made, block;
}

void operator delete(void* block) noexcept { morvane::campaigns::live_new -= block != nullptr, std::free(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

int main(int argc, char** argv)
{
    using namespace morvane::campaigns;
    const struct {
        const char* name;
        void (*run)(trial&);
        long iterations; // in CTest: a few seconds
    } campaigns[] = {{"responses", malformed_responses, 8000}, {"faults", session_faults, 1500}, {"arguments", arguments, 8000},
                     {"threads", threads, 10}, {"leaks", leaks, 100}};
    const auto c = std::ranges::find_if(campaigns, [&](const auto& each) { return argc > 1 && each.name == std::string(argv[1]); });
    if (c == std::end(campaigns))
        return std::printf("usage: campaigns responses|faults|arguments|threads|leaks [ITERATIONS [SEED]]\n"), 2;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    morvane::initialize_error_values();
    // A trial counts from where the one before left off: what the component sets up once per
    // process stays, and an unchecked first trial sets it up.
    int passed = 0, failed = 0;
    const auto run = [&](std::uint64_t seed, bool checked) {
        trial t(seed);
        t.input.reserve(64); // its block is counted before the trial, whatever it grows to
        const allocation_counts before = allocations();
        c->run(t);
        clear_thread_error();
        const allocation_counts after = allocations();
        t.expect(!checked || (spying && after.live_new == before.live_new && after.live_com == before.live_com),
                 L"blocks left: " + std::to_wstring(after.live_new - before.live_new) + L" of operator new, " +
                     std::to_wstring(after.live_com - before.live_com) + L" of the task allocator");
        std::printf(t.failed() ? "\n" : "");
        (t.failed() ? failed : passed) += checked;
    };
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 1;
    run(seed ^ 0x5EED, false);
    std::ifstream replay(CAMPAIGN_REPLAY);
    for (std::string line, name; std::getline(replay, line);)
        if (std::uint64_t replayed = 0; std::istringstream(line) >> name >> replayed && name == c->name)
            run(replayed, true);
    for (long i = 0, iterations = argc > 2 ? std::atol(argv[2]) : c->iterations; i < iterations && failed < 10; ++i)
        run(seed + i, true);
    std::printf("campaign %s: %d passed, %d failed, %lld blocks allocated\n", c->name, passed, failed, made.load());
    CoUninitialize();
    return failed ? 1 : 0;
}
