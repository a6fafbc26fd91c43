// Numbers as the notices and prompts print them.
#pragma once

#include <string>

namespace vindrel {

// Decimal digits of `value`, with a leading '-' when negative: no sign for
// positive values, no padding, no grouping.
std::u16string Decimal(long long value);

}  // namespace vindrel
