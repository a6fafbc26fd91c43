// Cutting the To text into recipients.
#include "core/recipient_list.h"

namespace vindrel {

RecipientList CutRecipients(std::u16string_view to_text)
{
    if (to_text.empty()) return std::nullopt;
    std::vector<std::u16string> entries;
    std::size_t start = 0;
    for (auto semicolon = to_text.find(u';'); semicolon != std::u16string_view::npos;
         semicolon = to_text.find(u';', start)) {
        entries.emplace_back(to_text.substr(start, semicolon - start));
        start = semicolon + 1;
    }
    if (start < to_text.size() || entries.empty()) entries.emplace_back(to_text.substr(start));
    return entries;
}

}  // namespace vindrel
