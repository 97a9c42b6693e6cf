// The allocation counters: operator new and delete replaced for the whole program, the
// component's static library included, and a spy on the COM task allocator, which holds the
// strings and safe arrays once the platform's string cache is off. Either can be made to fail.
#include <atomic>
#include <cstdlib>
#include <new>
#include "campaigns/campaign.hpp"

namespace morvane::campaigns {
namespace {

std::atomic<long long> live_new = 0, live_com = 0, made = 0, excused = 0;
thread_local long countdown = 0;
thread_local bool counting = false, failed = false;

// Whether this allocation is the one armed to fail; the session's own work is spared.
bool failing_now() noexcept
{
    if (!counting || countdown == 0 || scripted_session::calls_in_progress > 0 || --countdown > 0)
        return false;
    failed = true;
    return true;
}

class malloc_spy final : public IMallocSpy {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        *out = InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMallocSpy) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // Asking for no bytes makes the allocation fail.
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return failing_now() ? 0 : size; }
    STDMETHODIMP_(void*) PostAlloc(void* block) override
    {
        if (block)
            ++live_com, ++made;
        return block;
    }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL spied) override
    {
        if (block && spied)
            --live_com;
        return block;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** actual, BOOL spied) override
    {
        reallocated_ = block && spied;
        *actual = block;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override
    {
        live_com += (block != nullptr) - reallocated_;
        made += block && !reallocated_;
        return block;
    }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

private:
    static inline thread_local bool reallocated_ = false;
};

malloc_spy spy;

// Registered before main runs, so that every task allocation is seen from the start.
const bool spying = [] {
    using no_cache = void(WINAPI*)();
    reinterpret_cast<no_cache>(reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryW(L"oleaut32.dll"), "SetOaNoCache")))();
    return SUCCEEDED(CoRegisterMallocSpy(&spy));
}();

} // namespace

allocation_counts allocations() noexcept
{
    return {live_new, live_com - excused, made};
}

void excuse_task_blocks(long long count) noexcept
{
    excused += count;
}

void expect_no_leak(trial& t, const allocation_counts& before)
{
    const allocation_counts after = allocations();
    t.expect(spying && after.live_new == before.live_new && after.live_com == before.live_com,
             L"blocks left: " + std::to_wstring(after.live_new - before.live_new) + L" from operator new, " +
                 std::to_wstring(after.live_com - before.live_com) + L" from the task allocator");
}

void fail_allocation(long nth) noexcept
{
    countdown = nth;
    failed = false;
}

bool allocation_failed() noexcept
{
    return failed;
}

void count_allocations_for_failure(bool on) noexcept
{
    counting = on;
}

} // namespace morvane::campaigns

void* operator new(std::size_t size)
{
    using namespace morvane::campaigns;
    void* block = failing_now() ? nullptr : std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++live_new, ++made;
    return block;
}

void operator delete(void* block) noexcept
{
    if (block)
        --morvane::campaigns::live_new;
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    operator delete(block);
}
