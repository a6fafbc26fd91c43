// Line breaks as every composed text has them.
#pragma once

#include <string>
#include <string_view>

namespace vindrel {

// `text` with each bare LF turned into CR LF, as the window's text box gives
// them; CR LF stays, and a CR on its own is left as that text box leaves it.
// A line break then counts two characters against the length limit
// wherever the text was typed.
std::u16string WithCrLf(std::u16string_view text);

}  // namespace vindrel
