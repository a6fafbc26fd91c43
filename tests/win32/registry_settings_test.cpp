// The registry settings store, on Wine's registry, under a key of its own.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/win32/registry_settings.h"
#include "platform/win32/windows_headers.h"

namespace vindrel::win32 {
namespace {

struct RegistrySettingsTest : ::testing::Test {
    // A per-process application name, so runs never see each other's values.
    std::u16string application = u"VindrelTest" + std::u16string(u"-") + Digits(GetCurrentProcessId());
    RegistrySettings store;

    static std::u16string Digits(DWORD value)
    {
        const std::string text = std::to_string(value);
        return std::u16string(text.begin(), text.end());
    }

    std::wstring Root() const { return L"Software\\" + std::wstring(application.begin(), application.end()); }
    std::wstring Path() const { return Root() + L"\\Last Values"; }

    // Stores raw bytes under the test's key, as some other writer might.
    void WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Path().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void TearDown() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, Path().c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, Root().c_str());
    }
};

TEST_F(RegistrySettingsTest, MissingReadsAsTheDefault)
{
    EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), u"hint");
    store.Write(application, u"Last Values", u"Other", u"x");
    EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), u"hint") << "key exists, value does not";
}

TEST_F(RegistrySettingsTest, ValuesComeBackUnchanged)
{
    const std::u16string values[] = {
        u"",  // stays empty: not the default
        u"user1; pc42 ;;bob",
        u"*",
        u"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600",
        std::u16string(5000, u'n'),  // longer than the first read's buffer
    };
    for (const auto& value : values) {
        store.Write(application, u"Last Values", u"To", value);
        EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), value);
    }
}

TEST_F(RegistrySettingsTest, LivesWhereTheProgramLooksForIt)
{
    store.Write(application, u"Last Values", u"To", u"pc42");
    wchar_t data[16] = {};
    DWORD bytes = sizeof data;
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, Path().c_str(), L"To", RRF_RT_ANY, &type, data, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(data, L"pc42");
    EXPECT_EQ(bytes, 5 * sizeof(wchar_t)) << "with its terminating null";
}

TEST_F(RegistrySettingsTest, ForeignValuesAreReadSafely)
{
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    WriteRaw(L"To", REG_SZ, unterminated, sizeof unterminated);
    EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), u"abc");

    const wchar_t two_strings[] = L"first\0second";
    WriteRaw(L"To", REG_SZ, two_strings, sizeof two_strings);
    EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), u"first");

    const char odd[] = {'a', 0, 'b'};
    WriteRaw(L"To", REG_SZ, odd, sizeof odd);
    EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), u"a") << "a stray last byte is dropped";

    const DWORD number = 42;
    WriteRaw(L"To", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(store.Read(application, u"Last Values", u"To", u"hint"), u"hint") << "not a string";
}

// The system's text for `status` as FormatMessageW gives it, line break cut.
std::u16string SystemText(DWORD status)
{
    wchar_t text[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, status, 0,
                             text, 512, nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) --n;
    return std::u16string(reinterpret_cast<const char16_t*>(text), n);
}

TEST_F(RegistrySettingsTest, RefusedWriteSaysWhereAndWhyInTheSystemsWords)
{
    struct Row {
        const char* what;
        std::function<void(RegistrySettingsTest&)> refuse;
        std::u16string key;
        DWORD status;  // what the registry answers
    };
    const Row rows[] = {
        {"the key cannot be created: its parent is volatile",
         [](RegistrySettingsTest& t) {
             HKEY key;
             ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, t.Root().c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                       KEY_ALL_ACCESS, nullptr, &key, nullptr),
                       ERROR_SUCCESS);
             RegCloseKey(key);
         },
         u"To", ERROR_CHILD_MUST_BE_VOLATILE},
        {"the value cannot be set: its name is too long", [](RegistrySettingsTest&) {},
         std::u16string(16384, u'v'), ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.refuse(*this);
        const std::optional<std::u16string> reason =
            store.Write(application, u"Last Values", row.key, u"pc42");
        ASSERT_TRUE(reason.has_value()) << "a refused write reported as stored";
        const std::u16string path = u"HKEY_CURRENT_USER\\Software\\" + application + u"\\Last Values";
        EXPECT_NE(reason->find(path), std::u16string::npos) << "names the key";
        EXPECT_NE(reason->find(u"value " + row.key), std::u16string::npos) << "names the value";
        const std::u16string system = SystemText(row.status);
        ASSERT_FALSE(system.empty());
        EXPECT_NE(reason->find(system), std::u16string::npos) << "the system's own message";
        EXPECT_EQ(reason->find_first_of(u"\r\n"), std::u16string::npos) << "one line";
        TearDown();
    }
}

}  // namespace
}  // namespace vindrel::win32
