// Results inside the layer: a value, or the Win32 error code that the
// exported function will hand to SetLastError.
#pragma once

#include <utility>
#include <variant>

#include "win32/types.h"

namespace kolm::platform {

struct Win32Error {
    DWORD code;
};

template <typename T>
class Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(Win32Error e) : m_v(std::in_place_index<1>, e) {}

    explicit operator bool() const { return m_v.index() == 0; }
    T& value() { return std::get<0>(m_v); }
    const T& value() const { return std::get<0>(m_v); }
    T& operator*() { return value(); }
    T* operator->() { return &value(); }
    DWORD error() const { return m_v.index() == 1 ? std::get<1>(m_v).code : ERROR_SUCCESS; }

private:
    std::variant<T, Win32Error> m_v;
};

// Success without a value.
struct Done {};
using Status = Result<Done>;

} // namespace kolm::platform
