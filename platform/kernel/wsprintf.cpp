// wsprintfA: the Win32 formatter, written out here because its argument
// sizes differ from C's: no size prefix and 'l' both read 32 bits (long is
// 32-bit on Windows), 'h' reads 16.
#include "kernel/wsprintf.h"

#include <type_traits>

#include <cstdint>

#include "win32.h"

namespace kolm::platform {

namespace {

enum class Size { Default, Long, Short };

struct Conversion {
    bool left = false;      // '-'
    bool alternate = false; // '#': 0x / 0X before hexadecimal
    bool zero = false;      // '0': pad with zeros up to the width
    size_t width = 0;
    size_t precision = 0;   // 0: none given (digits minimum / string maximum)
    Size size = Size::Default;
    char conversion = 0;
};

// NOTE: width and precision beyond the output limit cannot show anyway.
constexpr size_t kFieldMax = kWsprintfMax + 1;

// Reads the part of a conversion after '%'. Returns the position after it.
const char* parse_conversion(const char* p, Conversion& conv)
{
    for (;; ++p) {
        if (*p == '-')
            conv.left = true;
        else if (*p == '#')
            conv.alternate = true;
        else if (*p == '0')
            conv.zero = true;
        else
            break;
    }
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (conv.width < kFieldMax)
            conv.width = conv.width * 10 + static_cast<size_t>(*p - '0');
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p) {
            if (conv.precision < kFieldMax)
                conv.precision = conv.precision * 10 + static_cast<size_t>(*p - '0');
        }
    }
    if (*p == 'l') {
        conv.size = Size::Long;
        ++p;
    } else if (*p == 'h') {
        conv.size = Size::Short;
        ++p;
    }
    conv.conversion = *p;
    return *p ? p + 1 : p;
}

class Output {
public:
    Output(char* out, size_t cap) : m_out(out), m_cap(cap) {}
    void put(char c)
    {
        if (m_len + 1 < m_cap)
            m_out[m_len++] = c;
    }
    void repeat(char c, size_t n)
    {
        for (size_t i = 0; i < n && !full(); ++i)
            put(c);
    }
    bool full() const { return m_len + 1 >= m_cap; }
    size_t finish()
    {
        m_out[m_len] = '\0';
        return m_len;
    }

private:
    char* m_out;
    size_t m_cap;
    size_t m_len = 0;
};

void put_number(Output& out, const Conversion& conv, bool negative, uint64_t magnitude, unsigned base, bool upper,
                const char* prefix)
{
    char digits[24];
    size_t n = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[n++] = set[magnitude % base];
        magnitude /= base;
    } while (magnitude);

    const size_t prefix_len = (negative ? 1 : 0) + (prefix ? 2 : 0);
    size_t body = conv.precision > n ? conv.precision : n;
    // Zero padding fills the width with digits, after the sign or prefix.
    if (conv.zero && !conv.left && conv.width > prefix_len + body)
        body = conv.width - prefix_len;
    const size_t total = prefix_len + body;

    if (!conv.left && conv.width > total)
        out.repeat(' ', conv.width - total);
    if (negative)
        out.put('-');
    if (prefix) {
        out.put(prefix[0]);
        out.put(prefix[1]);
    }
    out.repeat('0', body - n);
    while (n && !out.full())
        out.put(digits[--n]);
    if (conv.left && conv.width > total)
        out.repeat(' ', conv.width - total);
}

// A string or single character, cut to the precision and padded to the width.
template <typename Unit>
void put_text(Output& out, const Conversion& conv, const Unit* text, size_t limit)
{
    size_t len = 0;
    while (len < limit && (conv.precision == 0 || len < conv.precision) && text[len])
        ++len;
    const char pad = conv.zero ? '0' : ' ';
    if (!conv.left && conv.width > len)
        out.repeat(pad, conv.width - len);
    for (size_t i = 0; i < len && !out.full(); ++i) {
        // NOTE: through the unsigned type of the same size: a char is signed,
        // and a byte of 0x80 or above must not widen to a huge unit.
        const auto unit = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Unit>>(text[i]));
        // NOTE: wide text has no code page here; anything beyond Latin-1
        // shows as '?'.
        out.put(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    if (conv.left && conv.width > len)
        out.repeat(' ', conv.width - len);
}

} // namespace

size_t format_win32(char* out_buf, size_t cap, const char* fmt, va_list args)
{
    Output out(out_buf, cap);
    if (!fmt)
        return out.finish();
    const char* p = fmt;
    while (*p && !out.full()) {
        if (*p != '%') {
            out.put(*p++);
            continue;
        }
        Conversion conv;
        p = parse_conversion(p + 1, conv);
        switch (conv.conversion) {
        case 'd':
        case 'i': {
            int32_t v = va_arg(args, int32_t);
            if (conv.size == Size::Short)
                v = static_cast<int16_t>(v);
            const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
            put_number(out, conv, v < 0, magnitude, 10, false, nullptr);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            uint32_t v = va_arg(args, uint32_t);
            if (conv.size == Size::Short)
                v = static_cast<uint16_t>(v);
            if (conv.conversion == 'u') {
                put_number(out, conv, false, v, 10, false, nullptr);
            } else {
                const bool upper = conv.conversion == 'X';
                const char* prefix = conv.alternate ? (upper ? "0X" : "0x") : nullptr;
                put_number(out, conv, false, v, 16, upper, prefix);
            }
            break;
        }
        case 'p': {
            const auto v = reinterpret_cast<uintptr_t>(va_arg(args, void*));
            Conversion ptr = conv;
            ptr.zero = true;
            ptr.width = 2 * sizeof(void*);
            ptr.precision = 0;
            put_number(out, ptr, false, v, 16, true, nullptr);
            break;
        }
        case 'c':
        case 'C': {
            const int v = va_arg(args, int);
            const bool wide = conv.conversion == 'C' ? conv.size != Size::Short : conv.size == Size::Long;
            const uint32_t unit = wide ? static_cast<uint16_t>(v) : static_cast<unsigned char>(v);
            // NOTE: a NUL character is stored and counted, as asked for.
            const char c = unit < 0x100 ? static_cast<char>(unit) : '?';
            if (!conv.left && conv.width > 1)
                out.repeat(conv.zero ? '0' : ' ', conv.width - 1);
            out.put(c);
            if (conv.left && conv.width > 1)
                out.repeat(' ', conv.width - 1);
            break;
        }
        case 's':
        case 'S': {
            const bool wide = conv.conversion == 'S' ? conv.size != Size::Short : conv.size == Size::Long;
            if (wide) {
                const auto* text = va_arg(args, const uint16_t*);
                if (text)
                    put_text(out, conv, text, kFieldMax);
                else
                    put_text(out, conv, "(null)", 6);
            } else {
                const char* text = va_arg(args, const char*);
                put_text(out, conv, text ? text : "(null)", text ? kFieldMax : 6);
            }
            break;
        }
        case '\0':
            break;
        default:
            // "%%" and anything unknown: the character itself.
            out.put(conv.conversion);
            break;
        }
    }
    return out.finish();
}

} // namespace kolm::platform

int wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist)
{
    if (!lpOut) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return static_cast<int>(kolm::platform::format_win32(lpOut, kolm::platform::kWsprintfMax + 1, lpFmt, arglist));
}

int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    const int n = wvsprintfA(lpOut, lpFmt, args);
    va_end(args);
    return n;
}
