#include "image/PGMessages.h"

#include "image/PGExceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

using namespace rastova;

namespace {

constexpr int kGerman = 1;
constexpr int kFrench = 2;
constexpr int kDutch = 3;
constexpr int kSpanish = 4;
constexpr int kSixth = 5;

// The filter labels have no names of their own: the RGB filter's green channel.
constexpr int kGreenLabel = 46;

// Puts LanguageIndex back to English however the test ends.
struct TLanguageScope {
    explicit TLanguageScope(std::uint8_t index) { LanguageIndex = index; }
    ~TLanguageScope() { LanguageIndex = 0; }
};

std::string Column(int key, int language)
{
    const char* s = PGLangStrEntries[key].Texts[language];
    return s ? s : "";
}

// The placeholders a text contains; a repeated one would be filled only once.
std::multiset<std::string> Placeholders(const std::string& text)
{
    std::multiset<std::string> found;
    for (std::size_t at = text.find("%S"); at != std::string::npos; at = text.find("%S", at + 1))
        found.insert(text.substr(at, 3));
    return found;
}

}  // namespace

TEST(Messages, KeysEqualPositionsAndOrderCheckNamesFirstMismatch)
{
    for (int i = 0; i < kMessageCount; ++i)
        EXPECT_EQ(PGLangStrEntries[i].Key, i);
    EXPECT_NO_THROW(CheckMessageOrder(PGLangStrEntries.data(), kMessageCount));

    auto swapped = PGLangStrEntries;
    std::swap(swapped[3], swapped[4]);
    try {
        CheckMessageOrder(swapped.data(), kMessageCount);
        FAIL() << "mis-ordered table accepted";
    } catch (const EPixelGraphic& e) {
        EXPECT_STREQ(e.what(), "PGLangStrEntries order wrong 3 and 4 are not identical");
    }
}

TEST(Messages, TranslationsKeepPlaceholdersAndLineBreaks)
{
    for (int key = 1; key < kMessageCount - 1; ++key) {
        const std::string english = Column(key, 0);
        const auto expected = Placeholders(english);
        EXPECT_EQ(std::set<std::string>(expected.begin(), expected.end()).size(), expected.size())
            << "key " << key;
        for (int language = kGerman; language <= kSpanish; ++language) {
            SCOPED_TRACE("key " + std::to_string(key) + " column " + std::to_string(language));
            const std::string text = Column(key, language);
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(Placeholders(text), expected);
            EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), key == kMsgSaveColorResWarning ? 2 : 0);
            if (key == kMsgSaveColorResWarning) {
                EXPECT_NE(text.find("\r\r"), std::string::npos);
            }
        }
    }
    for (int language = 0; language < kLanguageCount; ++language) {
        EXPECT_EQ(PGLangStrEntries[0].Texts[language], nullptr);
        EXPECT_EQ(PGLangStrEntries[kMessageCount - 1].Texts[language], nullptr);
    }
    const std::string saveWarning = Column(kMsgSaveColorResWarning, 0);
    EXPECT_EQ(std::count(saveWarning.begin(), saveWarning.end(), '\r'), 2);
    EXPECT_NE(saveWarning.find(".\r\rThe graphic"), std::string::npos);
    EXPECT_EQ(Column(kMsgUnknownExtension, 0), "Unknown file extension \"%S1\"");
}

TEST(Messages, TellingRowsInEachLanguage)
{
    struct TRow {
        int key;
        int language;
        const char* text;
    };
    const TRow rows[] = {
        {kMsgNoPalette, kGerman, "Keine Palette"},
        {kMsgNoPalette, kFrench, "Pas de palette"},
        {kMsgNoPalette, kDutch, "Geen palet"},
        {kMsgNoPalette, kSpanish, "No paleta"},
        {kMsgWarning, kGerman, "Warnung"},
        {kMsgWarning, kFrench, "Avertissement"},
        {kMsgWarning, kDutch, "Waarschuwing"},
        {kMsgFailed, kGerman, "%S1 fehlgeschlagen"},
        {kMsgFailed, kFrench, "%S1 a échoué"},
        {kMsgFailed, kDutch, "%S1 mislukt"},
        {kMsgFailed, kSpanish, "%S1 ha fallado"},
        {kGreenLabel, kGerman, "G"},
        {kGreenLabel, kFrench, "V"},
        {kGreenLabel, kDutch, "G"},
        {kGreenLabel, kSpanish, "G"},
        {kMsgUnsupportedCompression, kGerman, "Unsupported Compression"},
        {kMsgUnsupportedCompression, kDutch, "Unsupported Compression"},
    };
    for (const TRow& row : rows) {
        TLanguageScope scope(static_cast<std::uint8_t>(row.language));
        EXPECT_EQ(MessageText(static_cast<std::uint8_t>(row.key)), row.text)
            << "key " << row.key << " column " << row.language;
    }
    TLanguageScope spanish(kSpanish);
    const std::string warning = MessageText(kMsgWarning);
    EXPECT_FALSE(warning.empty());
    EXPECT_NE(warning, "Warning");
}

TEST(Messages, EmptyKeysSixthColumnAndOutOfRangeLanguage)
{
    EXPECT_EQ(MessageText(kMsgNone), "");
    EXPECT_EQ(MessageText(kMsgLast), "");

    {
        TLanguageScope sixth(kSixth);
        for (int key = 0; key < kMessageCount; ++key) {
            std::string text = "stale";
            GetMessage(static_cast<std::uint8_t>(key), text);
            EXPECT_EQ(text, key == kMsgImageFiles ? "Image files" : "") << "key " << key;
        }
    }
    {
        TLanguageScope beyond(kLanguageCount);
        std::string text = "untouched";
        GetMessage(kMsgNoPalette, text);
        EXPECT_EQ(text, "untouched");
        FormatMessage1(kMsgInvalid, "Index", text);
        EXPECT_EQ(text, "untouched");
    }
    EXPECT_EQ(LanguageIndex, 0);
    std::string text = "stale";
    GetMessage(kMsgNoPalette, text);
    EXPECT_EQ(text, "No palette");
}

TEST(Messages, SubstitutionReplacesFirstOccurrenceInOrder)
{
    std::string text;
    FormatMessage1(kMsgInvalid, "Index", text);
    EXPECT_EQ(text, "Index invalid");

    FormatMessage2(kMsgCannotWriteColorRes, "TGA", MessageText(kMsg256Colors), text);
    EXPECT_EQ(text, "The graphic cannot be saved with to a TGA file with the current color resolution "
                    "(256 colors)");

    // The inserted word is not searched again for %S1.
    FormatMessage1(kMsgIsEmpty, "%S1", text);
    EXPECT_EQ(text, "%S1 is empty");

    // %S2 is looked up after %S1 was filled, so it lands inside the inserted word.
    FormatMessage2(kMsgCannotWriteColorRes, "x%S2y", "Z", text);
    EXPECT_EQ(text, "The graphic cannot be saved with to a xZy file with the current color resolution "
                    "(%S2)");

    FormatMessage3(kMsgSaveColorResWarning, "BMP", "16.7 million colors", "256 colors", text);
    EXPECT_EQ(text, "The graphic cannot be saved to a BMP file with the current color resolution "
                    "(16.7 million colors).\r\rThe graphic will be saved with a different color "
                    "resolution (256 colors).");

    // A placeholder the message lacks is skipped; extra words are ignored.
    FormatMessage3(kMsgNoPalette, "a", "b", "c", text);
    EXPECT_EQ(text, "No palette");
}
