// Text files and bodies of unknown encoding, as applicants send them, read
// as the characters they were written with.
#include "common/legacy_text.h"

#include <gtest/gtest.h>

#include <iconv.h>

namespace qf {
namespace {

// `utf8` in a legacy encoding, made by iconv, as an editor would save it.
std::string Encode(const std::string& utf8, const char* encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &dst, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

const std::string kGermanCv =
    "Lebenslauf\r\nJürgen Müller, Straße des 17. Juni 4, Köln\r\n"
    "Berufserfahrung: Softwareentwickler für Großkunden, Schwerpunkt Qualitätssicherung.\r\n"
    "Gehaltsvorstellung: 55.000 € – verhandelbar. „Zuverlässig“ und teamfähig.\r\n";
const std::string kPolishCv =
    "Życiorys\r\nImię i nazwisko: Łukasz Wójcik, ulica Świętokrzyska 12, Łódź\r\n"
    "Doświadczenie zawodowe: programista, zarządzanie zespołem, języki obce: "
    "angielski, niemiecki. Wykształcenie: Politechnika Gdańska, wydział elektroniki.\r\n"
    "Zainteresowania: żeglarstwo, książki, podróże po Śląsku i Mazurach.\r\n";
const std::string kCzechCv =
    "Životopis\r\nJméno: Jiří Dvořák, Příčná 5, Brno\r\n"
    "Pracovní zkušenosti: vývojář softwaru, řízení týmu, účetní systémy. "
    "Vzdělání: Vysoké učení technické v Brně, fakulta informačních technologií.\r\n"
    "Záliby: čtení, cestování, hudba a šachy.\r\n";

TEST(LegacyText, Utf8IsKeptAndItsByteOrderMarkDropped) {
    EXPECT_EQ(LegacyTextToUtf8(kGermanCv), kGermanCv);
    EXPECT_EQ(LegacyTextToUtf8("\xEF\xBB\xBF" + kPolishCv), kPolishCv);
    EXPECT_EQ(LegacyTextToUtf8(""), "");
    EXPECT_EQ(LegacyTextToUtf8("plain ASCII"), "plain ASCII");
}

TEST(LegacyText, LegacyEncodingsAreRecognisedAndDecoded) {
    EXPECT_EQ(LegacyTextToUtf8(Encode(kGermanCv, "WINDOWS-1252")), kGermanCv);
    EXPECT_EQ(LegacyTextToUtf8(Encode(kPolishCv, "ISO-8859-2")), kPolishCv);
    EXPECT_EQ(LegacyTextToUtf8(Encode(kCzechCv, "ISO-8859-2")), kCzechCv);
    EXPECT_EQ(LegacyTextToUtf8(Encode(kPolishCv, "WINDOWS-1250")), kPolishCv);
}

TEST(LegacyText, UnrecognisedBytesAreReadAsWindows1252) {
    // Too short to tell: Windows-1252, the most common legacy encoding.
    EXPECT_EQ(LegacyTextToUtf8("Caf\xE9"), "Café");
    EXPECT_EQ(LegacyTextToUtf8("\x80 5"), "€ 5");
    EXPECT_EQ(Utf8OrWindows1252("Gr\xFC\xDF"
                                "e"),
              "Grüße");
    EXPECT_EQ(Utf8OrWindows1252("Grüße"), "Grüße");
    EXPECT_EQ(FromWindows1252("\x81\x9D"), "\xC2\x81\xC2\x9D"); // undefined bytes: C1 code points
}

} // namespace
} // namespace qf
