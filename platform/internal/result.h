// A value, or the error that prevented it: the one result type inside the
// platform layer (C++20 has no std::expected). Each area names its error
// code type once: a Win32 error code in the kernel, a WSA code in the
// sockets layer, a registry status, errno at the system-call seam.
//
//     Result<DWORD, DWORD> read_some(...)
//     {
//         if (...)
//             return Failure<DWORD> { ERROR_INVALID_HANDLE };
//         return n;
//     }
#pragma once

#include <utility>
#include <variant>

namespace kolm {

// The error side of a Result, told apart from a value of the same type.
template <typename E>
struct Failure {
    E error;
};

// Success without a value.
struct Done {};

template <typename T, typename E>
class [[nodiscard]] Result {
public:
    Result(T value)
        : m_v(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Failure<E> f)
        : m_v(std::in_place_index<1>, std::move(f.error))
    {
    }

    bool has_value() const { return m_v.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    template <typename U>
    T value_or(U&& fallback) const&
    {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

    // The error; E{} (0 for the code types we use, i.e. success) when the
    // result holds a value, so a caller may hand it on unconditionally.
    E error() const { return m_v.index() == 1 ? std::get<1>(m_v) : E {}; }

private:
    std::variant<T, E> m_v;
};

} // namespace kolm
