// The settings store on QSettings: one INI file per application in the
// user's configuration directory, the section as a group.
#pragma once

#include "platform/settings_store.h"

namespace vindrel {

class QtSettingsStore : public SettingsStore {
public:
    std::u16string Read(std::u16string_view application, std::u16string_view section,
                        std::u16string_view key, std::u16string_view default_value) override;
    std::optional<std::u16string> Write(std::u16string_view application,
                                        std::u16string_view section, std::u16string_view key,
                                        std::u16string_view value) override;
};

}  // namespace vindrel
