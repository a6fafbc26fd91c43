// The recipient list: the To text cut at every ";".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vindrel {

// Entries exactly as cut from the To text: untrimmed, possibly empty.
// Absent (nullopt) for an empty To text.
using RecipientList = std::optional<std::vector<std::u16string>>;

// Cuts the To text at every ";". A trailing ";" gives no empty final entry;
// empty pieces before or between semicolons do become entries. Nothing else
// separates names: commas, spaces and line breaks stay inside an entry.
RecipientList CutRecipients(std::u16string_view to_text);

}  // namespace vindrel
