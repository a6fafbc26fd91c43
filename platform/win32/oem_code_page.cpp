// Conversion one character at a time, so that a character the code page
// lacks is seen as such and a surrogate pair is one character.
#include "platform/win32/oem_code_page.h"

#include "platform/win32/windows_headers.h"

#include <optional>

namespace vindrel::win32 {
namespace {

constexpr unsigned kUtf8 = 65001;
constexpr unsigned kSambaDefault = 850;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

class WindowsCodePage final : public net::CodePage {
public:
    explicit WindowsCodePage(unsigned code_page) : code_page_(code_page) {}

    std::optional<std::string> EncodeName(std::u16string_view name) const override
    {
        std::string out;
        for (std::size_t i = 0; i < name.size(); ++i) {
            const std::optional<std::string> bytes = Character(name, i);
            if (!bytes) return std::nullopt;
            out += *bytes;
        }
        return out;
    }

    std::string EncodeText(std::u16string_view text) const override
    {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) out += Character(text, i).value_or("?");
        return out;
    }

    std::u16string Decode(std::string_view bytes) const override
    {
        std::u16string out;
        for (std::size_t i = 0; i < bytes.size();) {
            // A lead byte and its trail byte are one character in a
            // double-byte code page.
            const std::size_t n =
                i + 1 < bytes.size() && IsDBCSLeadByteEx(code_page_, static_cast<BYTE>(bytes[i])) ? 2 : 1;
            wchar_t c[2];
            const int units = MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, bytes.data() + i,
                                                  static_cast<int>(n), c, 2);
            if (units == 1) out += static_cast<char16_t>(c[0]);
            else out += u'\uFFFD';
            i += n;
        }
        return out;
    }

private:
    // The bytes of the character at `i` (advancing `i` past a surrogate
    // pair), or none when the code page lacks it.
    std::optional<std::string> Character(std::u16string_view text, std::size_t& i) const
    {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
            return std::nullopt;  // no DOS code page has characters outside the BMP
        }
        const wchar_t wide = static_cast<wchar_t>(c);
        char bytes[8];
        BOOL substituted = FALSE;
        // No best fit: "é" may not quietly become "e", nor a name someone
        // else's.
        const int n = WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes,
                                          "?", &substituted);
        if (n <= 0 || substituted) return std::nullopt;
        return std::string(bytes, static_cast<std::size_t>(n));
    }

    unsigned code_page_;
};

}  // namespace

std::shared_ptr<const net::CodePage> MakeCodePage(unsigned code_page)
{
    return std::make_shared<WindowsCodePage>(code_page);
}

unsigned LanCodePage()
{
    const unsigned oem = GetOEMCP();
    return oem == kUtf8 ? kSambaDefault : oem;
}

}  // namespace vindrel::win32
