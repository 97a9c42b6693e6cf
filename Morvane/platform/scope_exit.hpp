#pragma once
#include <utility>

namespace morvane {

// Runs a function when the scope is left, however it is left.
template <typename Function>
class scope_exit {
public:
    explicit scope_exit(Function function) : function_(std::move(function)) {}
    ~scope_exit() { function_(); }
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;

private:
    Function function_;
};

} // namespace morvane
