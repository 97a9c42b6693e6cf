#pragma once
#include <utility>

namespace morvane {

// Runs a function when the scope is left, however it is left.
template<typename Function> class scope_exit {
public:
    explicit scope_exit(Function function) : m_function(std::move(function)) {}
    ~scope_exit() { m_function(); }
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;

private:
    Function m_function;
};

} // namespace morvane
