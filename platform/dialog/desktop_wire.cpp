#include "kolm/desktop_wire.h"

#include <charconv>

namespace kolm::platform::wire {

std::string encode(const Record& fields)
{
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += '\t';
        for (char c : fields[i]) {
            switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c; break;
            }
        }
    }
    out += '\n';
    return out;
}

Record decode(std::string_view line)
{
    Record fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

void LineBuffer::feed(const char* data, size_t size)
{
    if (!m_overflowed)
        m_data.append(data, size);
}

std::optional<std::string> LineBuffer::next()
{
    if (m_overflowed)
        return std::nullopt;
    const size_t nl = m_data.find('\n', m_scanned);
    if (nl == std::string::npos) {
        m_scanned = m_data.size();
        if (m_data.size() > m_limit) {
            m_overflowed = true;
            m_data.clear();
        }
        return std::nullopt;
    }
    std::string line = m_data.substr(0, nl);
    m_data.erase(0, nl + 1);
    m_scanned = 0;
    return line;
}

std::optional<long long> number(const std::string& field)
{
    long long v = 0;
    const char* end = field.data() + field.size();
    auto [p, ec] = std::from_chars(field.data(), end, v);
    if (ec != std::errc() || p != end || field.empty())
        return std::nullopt;
    return v;
}

} // namespace kolm::platform::wire
