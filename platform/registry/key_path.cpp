#include "kolm/key_path.h"
#include "internal/nocase.h"

namespace kolm::platform {

std::string fold_name(std::string_view name)
{
    return upper_ascii(name);
}

LONG split_key_path(std::string_view path, std::vector<std::string>& out)
{
    out.clear();
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos) {
            if (end - pos > k_max_key_name || out.size() >= k_max_key_depth)
                return ERROR_INVALID_PARAMETER;
            out.emplace_back(path.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return ERROR_SUCCESS;
}

} // namespace kolm::platform
