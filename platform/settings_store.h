// The per-user settings store: strings under application, section and key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vindrel {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored string, or `default_value` when the entry was never written.
    // An entry written as empty reads back empty, not as the default.
    virtual std::u16string Read(std::u16string_view application, std::u16string_view section,
                                std::u16string_view key, std::u16string_view default_value) = 0;

    // Stores `value` so that a later run reads it back unchanged. Nothing when
    // it was stored; otherwise why not, in plain words: the file or key and
    // the system's own message.
    virtual std::optional<std::u16string> Write(std::u16string_view application,
                                                std::u16string_view section,
                                                std::u16string_view key,
                                                std::u16string_view value) = 0;
};

}  // namespace vindrel
