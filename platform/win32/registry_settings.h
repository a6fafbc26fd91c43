// The settings store in the registry: one REG_SZ value per key, under
// HKEY_CURRENT_USER\Software\<application>\<section>.
#pragma once

#include "platform/settings_store.h"

namespace vindrel::win32 {

class RegistrySettings : public SettingsStore {
public:
    // A missing value, or one that is not a string, reads as the default.
    std::u16string Read(std::u16string_view application, std::u16string_view section,
                        std::u16string_view key, std::u16string_view default_value) override;

    std::optional<std::u16string> Write(std::u16string_view application,
                                        std::u16string_view section, std::u16string_view key,
                                        std::u16string_view value) override;
};

}  // namespace vindrel::win32
