// Texts and names in a DOS code page through the system's tables: the code
// page asked for is the one used, a character it lacks is one "?" in a text
// and refuses a name, and nothing is swapped for a look-alike.
#include <gtest/gtest.h>

#include "platform/win32/oem_code_page.h"

namespace vindrel::win32 {
namespace {

TEST(CodePage, EncodesTextsCharacterByCharacter)
{
    const struct {
        const char* what;
        unsigned code_page;
        std::u16string text;
        std::string bytes;
    } rows[] = {
        {"accent in 437", 437, u"caf\u00e9", "caf\x82"},
        {"cent sign in 437", 437, u"\u00a2", "\x9b"},
        {"cent sign in 850 sits elsewhere", 850, u"\u00a2", "\xbd"},
        {"euro sign missing from 437", 437, u"5 \u20ac", "5 ?"},
        {"no best fit: a-macron is not a", 437, u"\u0101", "?"},
        {"surrogate pair is one character", 437, u"a\U0001F600b", "a?b"},
        {"lone surrogates", 437, u"\xd800x\xdc00", "?x?"},
        {"line break kept", 437, u"a\r\nb", "a\r\nb"},
        {"double-byte code page", 932, u"\u65e5", "\x93\xfa"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(MakeCodePage(row.code_page)->EncodeText(row.text), row.bytes);
    }
}

TEST(CodePage, ANameConvertsWholeOrNotAtAll)
{
    const auto page = MakeCodePage(437);
    EXPECT_EQ(page->EncodeName(u"CAF\u00c9"), std::optional<std::string>("CAF\x90"));
    EXPECT_EQ(page->EncodeName(u"PC\u20ac"), std::nullopt);
    EXPECT_EQ(page->EncodeName(u"PC\U0001F600"), std::nullopt);
    EXPECT_EQ(page->EncodeName(u"\u0100LICE"), std::nullopt) << "not a best-fit ALICE";
}

TEST(CodePage, DecodesWhatPeersList)
{
    EXPECT_EQ(MakeCodePage(437)->Decode("CAF\x90 \x9b"), u"CAF\u00c9 \u00a2");
    EXPECT_EQ(MakeCodePage(932)->Decode("A\x93\xfa"), u"A\u65e5");
    EXPECT_EQ(MakeCodePage(932)->Decode("A\x93"), u"A\ufffd") << "a lead byte cut off at the end";
}

}  // namespace
}  // namespace vindrel::win32
