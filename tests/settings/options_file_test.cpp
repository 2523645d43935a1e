#include "common/error.h"
#include "common/fileio.h"
#include "common/installation.h"
#include "settings/options_file.h"
#include "settings/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace qf {
namespace {

using namespace std::string_literals;
using options::ValueWriter;
using testing_support::TempDir;
using testing_support::Unusual;

std::string Header() {
    return std::string("TPF0\x09TSettings\x00\x09TSettings", 25);
}

std::string Wrap(const std::string& values) {
    return Header() + values + std::string("\0\0", 2);
}

std::string ErrorOf(Settings& s, std::string_view bytes) {
    try {
        s.LoadFromBytes(bytes);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(OptionsFileTest, ADefaultRecordStartsWithTheSignatureAndVersion17) {
    const std::string bytes = Settings::FirstStartDefaults().SaveToBytes();
    const std::string expected = Header() + "\x02\x11";
    EXPECT_EQ(bytes.substr(0, expected.size()), expected);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("\0\0", 2));
    // Then the comment, as a short string.
    const std::string comment = options::Comment();
    EXPECT_EQ(bytes.substr(27, 2 + comment.size()),
              std::string("\x06") + static_cast<char>(comment.size()) + comment);
    EXPECT_TRUE(comment.starts_with("\r\nThis is a Quillfence options file, a program for saving "
                                    "emails and attachments to plain text from MAPI clients. To "
                                    "find out more go to "));
    EXPECT_TRUE(comment.ends_with("\r\n"));
}

TEST(OptionsFileTest, EverythingReadsBackEqual) {
    for (const Settings& original : {Settings{}, Settings::FirstStartDefaults(), Unusual()}) {
        Settings back;
        back.LoadFromBytes(original.SaveToBytes());
        Settings expected = original;
        expected.formatVersion = 17;
        EXPECT_EQ(back, expected);
        EXPECT_EQ(back.sourceFolder.folderId.Bytes(), original.sourceFolder.folderId.Bytes());
        EXPECT_EQ(back.destinationFolder.storeId.Length(),
                  original.destinationFolder.storeId.Length());
    }
}

TEST(OptionsFileTest, ValueEncodings) {
    struct IntCase {
        std::int32_t v;
        std::string bytes;
    } ints[] = {
        {0, std::string("\x02\x00", 2)},
        {127, "\x02\x7f"},
        {-128, "\x02\x80"},
        {128, std::string("\x03\x80\x00", 3)},
        {-129, "\x03\x7f\xff"},
        {32767, "\x03\xff\x7f"},
        {32768, std::string("\x04\x00\x80\x00\x00", 5)},
        {-32769, "\x04\xff\x7f\xff\xff"},
        {INT32_MIN, std::string("\x04\x00\x00\x00\x80", 5)},
    };
    for (const auto& c : ints) {
        ValueWriter w;
        w.Integer(c.v);
        EXPECT_EQ(w.Bytes(), c.bytes) << c.v;
        options::ValueReader r(w.Bytes());
        EXPECT_EQ(r.Integer(), c.v);
    }

    ValueWriter w;
    w.String(std::string(255, 'a'));
    EXPECT_EQ(w.Bytes().substr(0, 2), "\x06\xff");
    EXPECT_EQ(w.Bytes().size(), 257u);
    ValueWriter w2;
    w2.String(std::string(256, 'a'));
    EXPECT_EQ(w2.Bytes().substr(0, 5), std::string("\x0c\x00\x01\x00\x00", 5));
    ValueWriter w3;
    w3.String("");
    EXPECT_EQ(w3.Bytes(), std::string("\x06\x00", 2));
    ValueWriter w4;
    w4.Boolean(false);
    w4.Boolean(true);
    EXPECT_EQ(w4.Bytes(), "\x08\x09");
}

TEST(OptionsFileTest, AnIdentifierIsItsCountThenOneIntegerPerByte) {
    Settings s = Settings::FirstStartDefaults();
    s.sourceFolder.folderId.SetLength(46);
    s.sourceFolder.folderId.Bytes()[0] = 0x7f;
    s.sourceFolder.folderId.Bytes()[1] = 0x80;
    const std::string bytes = s.SaveToBytes();
    std::string expected = "\x02\x2e\x02\x7f\x03\x80";
    expected += std::string("\x00\x02\x00", 3);
    EXPECT_NE(bytes.find(expected), std::string::npos);
}

// Files of older versions, built value by value from the table of what each
// version holds.
struct OldValues {
    bool includeSubject = false;
    bool emailsToFlag = true;    // versions 6 to 9
    std::int32_t emailsTo = 2;   // from version 10
    bool getFromDefault = false; // from version 6
};

std::string OldFile(int version, const OldValues& o = {}) {
    ValueWriter w;
    auto id = [&](std::uint8_t fill) {
        w.Integer(30);
        for (int i = 0; i < 30; ++i) {
            w.Integer(fill);
        }
    };
    w.Integer(version);
    if (version >= 13) {
        w.String("comment");
    }
    w.String("filter.fll");
    w.String("/out/");
    w.Integer(12);
    w.String("%d.txt");
    w.Boolean(o.includeSubject);
    w.String("start");
    w.String("end");
    w.Boolean(true);
    if (version >= 2) {
        w.String("Dest");
    }
    if (version >= 3) {
        w.String("");
    }
    if (version >= 4) {
        w.Boolean(false);
        w.String("");
        w.String("");
    }
    if (version >= 5) {
        w.String("header");
        w.String("footer");
    }
    if (version >= 10) {
        w.Integer(o.emailsTo);
    } else if (version >= 6) {
        w.Boolean(o.emailsToFlag);
    }
    if (version >= 6) {
        w.Boolean(o.getFromDefault);
        w.String("Source");
        w.String("");
    }
    if (version >= 7) {
        w.Boolean(true);
    }
    if (version >= 8) {
        w.Integer(4);
    }
    if (version >= 9) {
        w.Boolean(true);
    }
    if (version >= 10) {
        w.String("TAG ");
    }
    if (version >= 12) {
        w.String(".a\r\n.b\r\n");
        w.String("2\r\n5\r\n");
    }
    if (version >= 13) {
        id(0xA1);
        id(0xB2);
        w.Integer(2);
        w.Integer(-5);
        w.String("prof");
        w.String("secret");
    }
    if (version >= 14) {
        w.String("/man/");
        w.String("%NOW");
    }
    if (version >= 15) {
        id(0xC3);
        id(0xD4);
    }
    if (version >= 16) {
        w.Boolean(false);
        w.String("Macro1");
    }
    return Wrap(w.Bytes());
}

TEST(OptionsFileTest, OlderVersionsReadAsTheirTableSays) {
    const std::string inst = InstallationFolder();
    const std::string fourLines =
        "From: %FROM\r\nSent: %SENT\r\nTo: %TO\r\nSubject: %SUBJECT\r\n\r\n";
    for (int version : {1, 5, 6, 9, 10, 12, 13, 14, 15, 16}) {
        SCOPED_TRACE("version " + std::to_string(version));
        Settings s = Unusual(); // what a file does not hold stays or takes its default
        const Settings before = s;
        s.LoadFromBytes(OldFile(version));
        EXPECT_EQ(s.formatVersion, version);
        EXPECT_EQ(s.filterFilename, "filter.fll");
        EXPECT_EQ(s.firstNumber, 12);
        EXPECT_EQ(s.includeAttachments, true);
        EXPECT_EQ(s.emailHeader, version < 5     ? ""
                                 : version <= 10 ? fourLines + "header"
                                                 : "header");
        EXPECT_EQ(s.emailFooter, version < 5 ? "" : "footer");
        EXPECT_EQ(s.emailsTo, version < 6 ? 1 : version < 10 ? 1 : 2);
        EXPECT_EQ(s.emailsFrom, version < 6 ? 0 : 1);
        EXPECT_EQ(s.reprocessEmails, version >= 7);
        EXPECT_EQ(s.sortOrder, version >= 8 ? 4 : 0);
        EXPECT_EQ(s.descending, version >= 9);
        EXPECT_EQ(s.tagText, version >= 10 ? "TAG " : "*QF* ");
        if (version >= 12) {
            EXPECT_EQ(s.extensions, (std::vector<std::string>{".a", ".b"}));
            EXPECT_EQ(s.extensionActions, (std::vector<std::string>{"2", "5"}));
        } else {
            EXPECT_EQ(JoinLines(s.extensions), Settings::kDefaultExtensionsText);
            EXPECT_EQ(JoinLines(s.extensionActions), Settings::kDefaultActionsText);
        }
        // Folder names survive only from version 15 on.
        EXPECT_EQ(s.messageDestination, version >= 15 ? "Dest" : "");
        EXPECT_EQ(s.messageSource, version >= 15 ? "Source" : "");
        EXPECT_EQ(s.profile, version >= 15 ? 2 : 0);
        EXPECT_EQ(s.reservedInteger, version >= 15 ? -5 : 0);
        EXPECT_EQ(s.profileName, version >= 13 ? "prof" : "");
        EXPECT_EQ(s.password, version >= 13 ? "secret" : "");
        if (version >= 13) {
            EXPECT_EQ(s.sourceFolder.folderId.Bytes(), std::vector<std::uint8_t>(30, 0xA1));
            EXPECT_EQ(s.destinationFolder.folderId.Bytes(), std::vector<std::uint8_t>(30, 0xB2));
        } else {
            EXPECT_EQ(s.sourceFolder.folderId, before.sourceFolder.folderId);
            EXPECT_EQ(s.destinationFolder.folderId, before.destinationFolder.folderId);
        }
        if (version >= 15) {
            EXPECT_EQ(s.sourceFolder.storeId.Bytes(), std::vector<std::uint8_t>(30, 0xC3));
            EXPECT_EQ(s.destinationFolder.storeId.Bytes(), std::vector<std::uint8_t>(30, 0xD4));
        } else {
            EXPECT_EQ(s.sourceFolder.storeId, before.sourceFolder.storeId);
        }
        EXPECT_EQ(s.manualFolder, version >= 14 ? "/man/" : inst + "Manual/");
        EXPECT_EQ(s.manualFormat, version >= 14 ? "%NOW" : "%FROM_%NUMBER");
        EXPECT_EQ(s.readStatus, version < 16);
        EXPECT_EQ(s.wordMacro, version >= 16 ? "Macro1" : "");
    }
}

TEST(OptionsFileTest, Version9And10Details) {
    Settings s;
    OldValues o;
    o.emailsToFlag = false;
    s.LoadFromBytes(OldFile(9, o));
    EXPECT_EQ(s.emailsTo, 0);
    o.emailsToFlag = true;
    s.LoadFromBytes(OldFile(9, o));
    EXPECT_EQ(s.emailsTo, 1);
    EXPECT_EQ(s.tagText, "*QF* ");
    EXPECT_EQ(s.manualFormat, "%FROM_%NUMBER");
    EXPECT_TRUE(s.readStatus);

    o.includeSubject = true;
    s.LoadFromBytes(OldFile(10, o));
    EXPECT_TRUE(s.emailHeader.starts_with("%SUBJECT\r\n\r\nFrom: %FROM\r\n")) << s.emailHeader;
    s.LoadFromBytes(OldFile(16, o));
    EXPECT_EQ(s.emailHeader, "%SUBJECT\r\n\r\nheader");
}

TEST(OptionsFileTest, BadStreamsGiveTheirErrors) {
    const std::string good = Settings::FirstStartDefaults().SaveToBytes();
    const std::string prefix = "Error reading TSettings.TSettings: ";
    auto replaceFirstValue = [&](const std::string& value) {
        // The version's bytes "\x02\x11" sit right after the header.
        return Header() + value + good.substr(Header().size() + 2);
    };
    auto afterComment = [&](const std::string& values) {
        return Header() + "\x02\x11\x06\x00"s + values;
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"empty", "", "Invalid stream format"},
        {"wrong signature", "TPF1" + good.substr(4), "Invalid stream format"},
        {"signature only", "TPF0", "Stream read error"},
        {"version as a string", replaceFirstValue("\x06\x02xx"), prefix + "Invalid property value"},
        {"unknown tag", replaceFirstValue("\x07"), prefix + "Invalid property value"},
        {"string where an integer", afterComment("\x06\x00\x06\x00\x06\x00"s),
         prefix + "Invalid property value"},
        {"string length beyond the file", afterComment(std::string("\x0c\xff\xff\x00\x00", 5)),
         prefix + "Stream read error"},
        {"absurd string length", afterComment("\x0c\xff\xff\xff\x7f"),
         prefix + "Invalid property value"},
        {"negative string length", afterComment("\x0c\xff\xff\xff\xff"),
         prefix + "Invalid property value"},
        {"other property", std::string("TPF0\x09TSettings\x00\x05Other\x02\x11", 23),
         "Error reading TSettings.Other: Property does not exist"},
    };
    for (const auto& c : cases) {
        Settings s;
        EXPECT_EQ(ErrorOf(s, c.bytes), c.error) << c.what;
    }
}

TEST(OptionsFileTest, ImpossibleIdentifierCountsAreInvalidValues) {
    // A version 13 file up to its first identifier, then a bad count.
    std::string file = OldFile(13);
    ValueWriter w;
    w.Integer(30);
    const size_t at = file.find(w.Bytes() + "\x03\xa1");
    ASSERT_NE(at, std::string::npos);
    for (std::int32_t count : {-1, 0, 23, 65537, INT32_MAX, INT32_MIN}) {
        ValueWriter bad;
        bad.Integer(count);
        std::string damaged = file.substr(0, at) + bad.Bytes() + file.substr(at + w.Bytes().size());
        Settings s;
        EXPECT_EQ(ErrorOf(s, damaged), "Error reading TSettings.TSettings: Invalid property value")
            << count;
        EXPECT_EQ(s.sourceFolder.folderId.Length(), 24u) << "nothing was allocated for " << count;
    }
}

TEST(OptionsFileTest, AFileCutAnywhereFailsCleanlyAndKeepsThePath) {
    TempDir dir;
    const std::string good = Unusual().SaveToBytes();
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const std::string path = dir / "cut.qfo";
        WriteFileAtomic(path, std::string_view(good).substr(0, cut));
        Settings s;
        s.optionsFilePath = "/previous.qfo";
        try {
            s.LoadFromFile(path);
            ADD_FAILURE() << "cut at " << cut << " was read";
        } catch (const Error& e) {
            const std::string msg = e.what();
            const std::string damaged = ": the options file " + path + " is damaged";
            if (cut == 0) {
                EXPECT_EQ(msg, "Invalid stream format: the options file " + path + " is empty");
            } else if (cut < 4) {
                EXPECT_EQ(msg,
                          "Invalid stream format: " + path + " is not a Quillfence options file");
            } else if (cut >= good.size() - 2) {
                EXPECT_EQ(msg, "Stream read error" + damaged) << cut; // the two list ends
            } else if (cut >= Header().size()) {
                EXPECT_EQ(msg, "Error reading TSettings.TSettings: Stream read error" + damaged)
                    << cut;
            } else {
                EXPECT_TRUE(msg == "Stream read error" + damaged ||
                            (msg.starts_with("Error reading TSettings.") && msg.ends_with(damaged)))
                    << cut << ": " << msg;
            }
        }
        EXPECT_EQ(s.optionsFilePath, "/previous.qfo");
    }
}

TEST(OptionsFileTest, AFailedLoadKeepsWhatWasReadBeforeTheError) {
    Settings s = Settings::FirstStartDefaults();
    std::string file = Unusual().SaveToBytes();
    const size_t tagAt = file.find("[done] ") - 2; // tagText's tag byte
    file[tagAt] = 0x07;
    EXPECT_EQ(ErrorOf(s, file), "Error reading TSettings.TSettings: Invalid property value");
    EXPECT_EQ(s.sortOrder, 3);                  // read before the error
    EXPECT_EQ(s.tagText, "*QF* ");              // not reached
    EXPECT_EQ(s.manualFormat, "%FROM_%NUMBER"); // not reached
}

TEST(OptionsFileTest, FilesAreSavedOwnerOnlyAndReplacedWhole) {
    TempDir dir;
    const std::string path = dir / "a.qfo";
    Settings s = Unusual();
    s.SaveToFile(path);
    EXPECT_EQ(s.optionsFilePath, path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Settings back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.optionsFilePath, path);
    EXPECT_EQ(back.password, s.password);

    Settings other;
    EXPECT_THROW(other.SaveToFile(dir / "missing/b.qfo"), FileError);
    EXPECT_EQ(other.optionsFilePath, "");
    try {
        other.LoadFromFile(dir / "missing.qfo");
        FAIL();
    } catch (const Error& e) {
        // The system's reason follows the name.
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file " + (dir / "missing.qfo") + ": No such file or directory");
    }
}

TEST(OptionsFileTest, RewritingKeepsTheOwnersModeAndLink) {
    TempDir dir;
    const std::string shared = dir / "team.qfo";
    Settings s = Unusual();
    s.SaveToFile(shared);
    // The owner shares the file with a team, and keeps it behind a link.
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    const std::string link = dir / "mine.qfo";
    ASSERT_EQ(::symlink("team.qfo", link.c_str()), 0);
    s.tagText = "[seen] ";
    s.SaveToFile(link);

    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(shared.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // still readable by the team
    Settings back;
    back.LoadFromFile(shared);
    EXPECT_EQ(back.tagText, "[seen] ");
}

TEST(OptionsFileTest, ADeviceIsNotReadWithoutEnd) {
    Settings s;
    try {
        s.LoadFromFile("/dev/zero");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Invalid stream format: /dev/zero is not a Quillfence options file");
    }
    EXPECT_EQ(s.optionsFilePath, "");
}

TEST(OptionsFileTest, AForeignFileIsNamedAsNotAnOptionsFile) {
    TempDir dir;
    const std::string path = dir / "cv.qfo";
    WriteFileAtomic(path, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n");
    Settings s;
    try {
        s.LoadFromFile(path);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Invalid stream format: " + path + " is not a Quillfence options file");
    }
    // A folder given as an options file: the system's reason.
    try {
        s.LoadFromFile(dir.path());
        FAIL();
    } catch (const Error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Cannot read file " + dir.path()));
        EXPECT_NE(std::string(e.what()).find(": Is a directory"), std::string::npos) << e.what();
    }
}

TEST(OptionsFileTest, Windows1252TextsOfEarlierVersionsAreReadAsTheirCharacters) {
    // Written by a version that stored Windows-1252: templates and tag text.
    Settings old = Settings::FirstStartDefaults();
    old.emailHeader = "Betreff: %SUBJECT\r\nGr\xFC\xDF"
                      "e aus K\xF6ln \x80\r\n";
    old.tagText = "\xA7QF\xA7 ";
    old.startTag = "\x93%FILENAME\x94";
    old.password = "p\xE4ss";
    Settings back;
    back.LoadFromBytes(old.SaveToBytes());
    EXPECT_EQ(back.emailHeader, "Betreff: %SUBJECT\r\nGrüße aus Köln €\r\n");
    EXPECT_EQ(back.tagText, "§QF§ ");
    EXPECT_EQ(back.startTag, "“%FILENAME”");
    EXPECT_EQ(back.password, "p\xE4ss"); // a password is taken as the bytes it is
    // UTF-8 texts of current files are read unchanged.
    Settings current = Settings::FirstStartDefaults();
    current.tagText = "§QF§ ";
    back.LoadFromBytes(current.SaveToBytes());
    EXPECT_EQ(back.tagText, "§QF§ ");
}

TEST(OptionsFileTest, ReadsAFilerFlagsPrefixAndSkipsTheClassName) {
    std::string file = Settings::FirstStartDefaults().SaveToBytes();
    std::string flagged = "TPF0\xF0" + std::string("\x07TOthers", 8) + file.substr(14);
    Settings s;
    s.LoadFromBytes(flagged);
    EXPECT_EQ(s.formatVersion, 17);
}

} // namespace
} // namespace qf
