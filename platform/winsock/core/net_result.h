// Results inside the sockets layer: a value, or the WSA error code that the
// exported function hands to WSASetLastError.
#pragma once

#include <utility>
#include <variant>

namespace kolm::platform::net {

struct WsaError {
    int code;
};

template <typename T>
class Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(WsaError e) : m_v(std::in_place_index<1>, e) {}

    explicit operator bool() const { return m_v.index() == 0; }
    T& value() { return std::get<0>(m_v); }
    const T& value() const { return std::get<0>(m_v); }
    T& operator*() { return value(); }
    T* operator->() { return &value(); }
    // 0 when the result holds a value.
    int error() const { return m_v.index() == 1 ? std::get<1>(m_v).code : 0; }

private:
    std::variant<T, WsaError> m_v;
};

struct Done {};
using Status = Result<Done>;

inline Status ok()
{
    return Done{};
}

} // namespace kolm::platform::net
