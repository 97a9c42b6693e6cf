// `campaigns NAME [ITERATIONS [SEED]]`: the replay file's trials ("NAME SEED what it found"), then ITERATIONS
// from SEED. A trial fails that leaves a block of operator new or of the task allocator (string cache off).
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include "campaign.hpp"
#include "platform/com_apartment.hpp"

using namespace morvane::campaigns;

namespace {

bool failing_now() noexcept
{
    if (!counting || countdown <= 0 || scripted_session::calls_in_progress != 0 || --countdown != 0)
        return false;
    failed = true;
    return true;
}

void* counted(void* block, long long alive, long long new_blocks)
{
    live_com += alive;
    made += new_blocks;
    return block;
}

thread_local bool moved = false; // the block that a reallocation takes was counted

struct malloc_spy final : IMallocSpy {
    STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = this, S_OK; } // asked for IMallocSpy alone
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return failing_now() ? 0 : size; } // 0 bytes: a failure
    STDMETHODIMP_(void*) PostAlloc(void* block) override { return counted(block, block != nullptr, block != nullptr); }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL spied) override { return counted(block, -(block && spied), 0); }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** to, BOOL spied) override
    {
        moved = block && spied;
        *to = block;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override
    {
        return counted(block, (block != nullptr) - moved, block && !moved);
    }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
} spy;

// Before main, to see every task allocation.
const bool spying = [] {
    entry<void WINAPI()>(LoadLibraryW(L"oleaut32.dll"), "SetOaNoCache")();
    return SUCCEEDED(CoRegisterMallocSpy(&spy));
}();

// clang-format off
struct campaign { std::string_view name; void (*run)(trial&); long iterations; }; // iterations: a few seconds
const campaign campaigns[] = {{"responses", responses, 8000}, {"faults", faults, 1500}, {"arguments", arguments, 8000},
                              {"threads", threads, 10}, {"leaks", leaks, 100}};
// clang-format on

} // namespace

bool trial::expect(bool ok, const std::wstring& what)
{
    if (!ok && ++failures == 1) {
        std::printf("seed %llu, input", static_cast<unsigned long long>(seed));
        for (const unsigned char c : input)
            std::printf(" %02X", c);
    }
    if (!ok)
        std::printf("\n  %ls", what.c_str());
    return ok;
}

void* operator new(std::size_t size)
{
    void* block = failing_now() ? nullptr : std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++live_new;
    ++made;
    return block;
}

void operator delete(void* block) noexcept
{
    live_new -= block != nullptr;
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

int main(int argc, char** argv)
{
    const campaign* chosen = std::ranges::find(campaigns, argc > 1 ? argv[1] : "", &campaign::name);
    if (chosen == std::end(campaigns)) {
        std::printf("usage: campaigns responses|faults|arguments|threads|leaks [ITERATIONS [SEED]]\n");
        return 2;
    }
    const morvane::com_apartment com(COINIT_MULTITHREADED);
    morvane::initialize_error_values();
    // A trial counts from where the one before left off; an unchecked first one sets up what stays.
    int passed = 0, failures = 0;
    const auto run = [&](std::uint64_t seed, bool checked) {
        trial t{seed};
        t.input.reserve(64); // its block is counted before the trial, whatever it grows to
        const long long before_new = live_new, before_com = live_com - excused;
        chosen->run(t);
        clear_thread_error();
        const long long left_new = live_new - before_new, left_com = live_com - excused - before_com;
        const std::wstring left = L"blocks left: " + std::to_wstring(left_new) + L" of operator new, " +
                                  std::to_wstring(left_com) + L" of the task allocator";
        t.expect(!checked || (spying && left_new == 0 && left_com == 0), left);
        std::printf(t.failures ? "\n" : "");
        if (checked)
            ++(t.failures ? failures : passed);
    };
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 1;
    run(seed ^ 0x5EED, false);
    std::ifstream replay(CAMPAIGN_REPLAY);
    for (std::string line, name; std::getline(replay, line);)
        if (std::uint64_t replayed = 0; std::istringstream(line) >> name >> replayed && name == chosen->name)
            run(replayed, true);
    for (long i = 0; i < (argc > 2 ? std::atol(argv[2]) : chosen->iterations) && failures < 10; ++i)
        run(seed + i, true);
    std::printf("campaign %s: %d passed, %d failed, %lld blocks allocated\n", argv[1], passed, failures, made.load());
    return failures ? 1 : 0;
}
