// Line breaks as CR LF.
#include "core/line_breaks.h"

namespace vindrel {

std::u16string WithCrLf(std::u16string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out += u'\r';
        out += text[i];
    }
    return out;
}

}  // namespace vindrel
