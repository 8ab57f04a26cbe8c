#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace korvanel {

// The error half of a Result, so that a failure reads as one at the return:
// `return fail(AudioFailure{...});`.
template <typename E>
struct Failed {
    E error;
};

template <typename E>
Failed<std::decay_t<E>> fail(E&& error) {
    return Failed<std::decay_t<E>>{std::forward<E>(error)};
}

// Either a value or the reason there is none. What a call that can fail
// returns, in place of a flag and a code kept somewhere else.
template <typename T, typename E>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failed<E> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    template <typename U>
    T value_or(U&& fallback) const& {
        return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

    // Only when !ok().
    const E& error() const { return std::get<1>(state_); }

    friend bool operator==(const Result& result, const T& value) { return result.ok() && result.value() == value; }

private:
    std::variant<T, E> state_;
};

// A call that gives nothing back but may fail.
template <typename E>
class Result<void, E> {
public:
    Result() = default;
    Result(Failed<E> failure) : error_(std::move(failure.error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only when !ok().
    const E& error() const { return *error_; }

private:
    std::optional<E> error_;
};

}  // namespace korvanel
