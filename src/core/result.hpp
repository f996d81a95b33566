#pragma once
// A value or an error message. Operations report their failures this way; C++
// exceptions are reserved for internal faults.
#include <string>
#include <utility>
#include <variant>

namespace tessel {

struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return *std::get_if<0>(&v_); }
    const T& value() const& { return *std::get_if<0>(&v_); }
    T&& value() && { return std::move(*std::get_if<0>(&v_)); }
    const Error& error() const& { return *std::get_if<1>(&v_); }
    Error&& error() && { return std::move(*std::get_if<1>(&v_)); }

private:
    std::variant<T, Error> v_;
};

}  // namespace tessel
