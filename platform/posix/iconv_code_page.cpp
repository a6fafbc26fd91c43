// Conversion to and from a DOS code page with iconv, one character at a time
// where a character the page lacks must become "?" on its own.
#include "platform/posix/iconv_code_page.h"

#include <errno.h>
#include <iconv.h>

#include <string>

#include "platform/cp850.h"
#include "platform/utf8.h"

namespace vindrel::net {
namespace {

// One conversion state per call: iconv_t may not be shared between threads.
class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str()))
    {
    }
    ~Converter()
    {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`, or none of it. `*used` says how much of `in` a
    // failed conversion got through before its first unconvertible byte.
    std::optional<std::string> Convert(std::string_view in, std::size_t* used = nullptr)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t src_left = in.size();
        char* dst = out.data();
        std::size_t dst_left = out.size();
        const std::size_t n = iconv(cd_, &src, &src_left, &dst, &dst_left);
        if (used) *used = in.size() - src_left;
        if (n == static_cast<std::size_t>(-1) || src_left != 0) return std::nullopt;
        // Reversible conversions only: an approximation would change a name.
        if (n != 0) return std::nullopt;
        out.resize(out.size() - dst_left);
        return out;
    }

private:
    iconv_t cd_;
};

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

class IconvCodePage final : public CodePage {
public:
    explicit IconvCodePage(std::string charset) : charset_(std::move(charset)) {}

    std::optional<std::string> EncodeName(std::u16string_view name) const override
    {
        Converter to(charset_, "UTF-8");
        std::string out;
        for (const std::u16string& c : Characters(name)) {
            const auto bytes = to.ok() ? to.Convert(Utf16ToUtf8(c)) : std::nullopt;
            if (!bytes || c.size() != 1) return std::nullopt;
            out += *bytes;
        }
        return out;
    }

    std::string EncodeText(std::u16string_view text) const override
    {
        Converter to(charset_, "UTF-8");
        std::string out;
        for (const std::u16string& c : Characters(text)) {
            const bool lone = c.size() == 1 && c[0] >= 0xD800 && c[0] <= 0xDFFF;
            const auto bytes = to.ok() && !lone ? to.Convert(Utf16ToUtf8(c)) : std::nullopt;
            out += bytes ? *bytes : std::string("?");
        }
        return out;
    }

    std::u16string Decode(std::string_view bytes) const override
    {
        Converter from("UTF-8", charset_);
        std::u16string out;
        while (!bytes.empty()) {
            std::size_t used = 0;
            if (const auto utf8 = from.ok() ? from.Convert(bytes, &used) : std::nullopt) {
                out += Utf8ToUtf16(*utf8);
                break;
            }
            // Keep what converted, mark the byte that did not, go on after it.
            if (used > 0)
                if (const auto head = from.Convert(bytes.substr(0, used)))
                    out += Utf8ToUtf16(*head);
            out += u'\xFFFD';
            bytes.remove_prefix(used + 1);
        }
        return out;
    }

private:
    // The text split into characters: a surrogate pair stays together.
    static std::vector<std::u16string> Characters(std::u16string_view text)
    {
        std::vector<std::u16string> out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                out.emplace_back(text.substr(i, 2));
                ++i;
            } else {
                out.emplace_back(1, text[i]);
            }
        }
        return out;
    }

    std::string charset_;
};

}  // namespace

std::shared_ptr<const CodePage> MakeIconvCodePage(std::string_view charset)
{
    if (!charset.empty()) {
        const std::string name(charset);
        Converter probe(name, "UTF-8");
        if (probe.ok()) return std::make_shared<IconvCodePage>(name);
    }
    return std::shared_ptr<const CodePage>(&Cp850(), [](const CodePage*) {});
}

}  // namespace vindrel::net
