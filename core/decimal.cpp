// Decimal numbers in UTF-16.
#include "core/decimal.h"

namespace vindrel {

std::u16string Decimal(long long value)
{
    // Work on the negative side so the most negative value needs no special case.
    const bool negative = value < 0;
    if (!negative) value = -value;
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' - value % 10));
        value /= 10;
    } while (value != 0);
    if (negative) digits.insert(digits.begin(), u'-');
    return digits;
}

}  // namespace vindrel
