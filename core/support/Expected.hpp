// A value, or the failure that kept it from being made. Expected<void> is success without a value. `Why`
// is Failure or a helper's extension of it. Never dropped unread: where a failure changes nothing (derived
// state written best effort), the caller says so with ignore().
#pragma once

#include "support/Failure.hpp"

#include <type_traits>
#include <utility>
#include <variant>

template <typename T, typename Why = Failure> class [[nodiscard]] Expected {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

public:
    Expected() requires std::is_void_v<T> {}
    Expected(Value value) : state_(std::move(value)) {}
    Expected(Why failure) : state_(std::move(failure)) {}

    explicit operator bool() const { return state_.index() == 0; }
    // Throws std::bad_variant_access when there is no value.
    Value& operator*() { return std::get<0>(state_); }
    const Value& operator*() const { return std::get<0>(state_); }
    Value* operator->() { return &std::get<0>(state_); }
    const Value* operator->() const { return &std::get<0>(state_); }
    const Why& failure() const { return std::get<1>(state_); }
    void ignore() const {}

private:
    std::variant<Value, Why> state_;
};
