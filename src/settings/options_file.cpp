// Options files: the settings record as a component stream, read in every
// format version from 1 on and written in the current one.
#include "settings/options_file.h"

#include "common/error.h"
#include "common/fileio.h"
#include "common/installation.h"
#include "common/legacy_text.h"
#include "common/text.h"
#include "i18n/translate.h"
#include "settings/settings.h"

namespace qf::options {

void ValueWriter::Integer(std::int32_t v) {
    if (v >= -128 && v <= 127) {
        Byte(kInt8);
        Byte(static_cast<std::uint8_t>(v));
    } else if (v >= -32768 && v <= 32767) {
        Byte(kInt16);
        Byte(static_cast<std::uint8_t>(v));
        Byte(static_cast<std::uint8_t>(v >> 8));
    } else {
        Byte(kInt32);
        const auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) {
            Byte(static_cast<std::uint8_t>(u >> (8 * i)));
        }
    }
}

void ValueWriter::String(std::string_view s) {
    if (s.size() <= 255) {
        Byte(kString);
        Byte(static_cast<std::uint8_t>(s.size()));
    } else {
        Byte(kLongString);
        const auto n = static_cast<std::uint32_t>(s.size());
        for (int i = 0; i < 4; ++i) {
            Byte(static_cast<std::uint8_t>(n >> (8 * i)));
        }
    }
    out_ += s;
}

void ValueWriter::Boolean(bool v) {
    Byte(v ? kTrue : kFalse);
}

void ValueWriter::ShortString(std::string_view s) {
    Byte(static_cast<std::uint8_t>(s.size()));
    out_ += s.substr(0, 255);
}

namespace {
[[noreturn]] void ReadError() {
    throw Error("Stream read error");
}
[[noreturn]] void InvalidValue() {
    throw Error("Invalid property value");
}
} // namespace

std::string_view ValueReader::Take(std::size_t n) {
    if (n > Left()) {
        ReadError();
    }
    auto s = in_.substr(pos_, n);
    pos_ += n;
    return s;
}

std::uint8_t ValueReader::Byte() {
    return static_cast<std::uint8_t>(Take(1)[0]);
}

std::uint8_t ValueReader::PeekByte() const {
    if (Left() == 0) {
        ReadError();
    }
    return static_cast<std::uint8_t>(in_[pos_]);
}

std::int32_t ValueReader::Integer() {
    switch (Byte()) {
    case kInt8:
        return static_cast<std::int8_t>(Byte());
    case kInt16: {
        auto b = Take(2);
        return static_cast<std::int16_t>(static_cast<std::uint8_t>(b[0]) |
                                         static_cast<std::uint8_t>(b[1]) << 8);
    }
    case kInt32: {
        auto b = Take(4);
        std::uint32_t u = 0;
        for (int i = 3; i >= 0; --i) {
            u = u << 8 | static_cast<std::uint8_t>(b[static_cast<size_t>(i)]);
        }
        return static_cast<std::int32_t>(u);
    }
    default:
        InvalidValue();
    }
}

std::string ValueReader::String() {
    std::uint32_t n = 0;
    switch (Byte()) {
    case kString:
        n = Byte();
        break;
    case kLongString: {
        auto b = Take(4);
        for (int i = 3; i >= 0; --i) {
            n = n << 8 | static_cast<std::uint8_t>(b[static_cast<size_t>(i)]);
        }
        // The length is checked before anything is allocated: a negative or
        // absurd one is not a string at all; one that merely runs past the
        // end of the file is a cut file.
        if (n > kMaxStringLength) {
            InvalidValue();
        }
        break;
    }
    default:
        InvalidValue();
    }
    return std::string(Take(n));
}

bool ValueReader::Boolean() {
    return Byte() == kTrue;
}

std::string ValueReader::ShortString() {
    const std::uint8_t n = Byte();
    return std::string(Take(n));
}

std::string Comment() {
    return "\r\nThis is a Quillfence options file, a program for saving emails and attachments to "
           "plain text from MAPI clients. To find out more go to https://quillfence.example/\r\n";
}

} // namespace qf::options

namespace qf {
namespace {

using options::ValueReader;
using options::ValueWriter;

void WriteId(ValueWriter& w, const EntryId& id) {
    w.Integer(static_cast<std::int32_t>(id.Length()));
    for (std::uint8_t b : id.Bytes()) {
        w.Integer(b);
    }
}

void ReadId(ValueReader& r, EntryId& id) {
    const std::int32_t count = r.Integer();
    // Identifiers are written with at least 24 bytes: a smaller count would
    // make the reader take the values after it as identifier bytes, a huge or
    // negative one would ask for memory the file cannot fill.
    if (count < static_cast<std::int32_t>(EntryId::kMinLength) ||
        static_cast<std::size_t>(count) > EntryId::kMaxLength) {
        throw Error("Invalid property value");
    }
    id.SetLength(static_cast<std::size_t>(count));
    for (auto& b : id.Bytes()) {
        b = static_cast<std::uint8_t>(r.Integer() & 0xFF);
    }
}

void WriteData(const Settings& s, ValueWriter& w) {
    w.Integer(Settings::kFormatVersion);                // 1
    w.String(options::Comment());                       // 2
    w.String(s.filterFilename);                         // 3
    w.String(s.directory);                              // 4
    w.Integer(s.firstNumber);                           // 5
    w.String(s.fileNameFormat);                         // 6
    w.Boolean(false);                                   // 7 include subject
    w.String(s.startTag);                               // 8
    w.String(s.endTag);                                 // 9
    w.Boolean(s.includeAttachments);                    // 10
    w.String(s.messageDestination);                     // 11
    w.String("");                                       // 12
    w.Boolean(false);                                   // 13
    w.String("");                                       // 14
    w.String("");                                       // 15
    w.String(s.emailHeader);                            // 16
    w.String(s.emailFooter);                            // 17
    w.Integer(s.emailsTo);                              // 18
    w.Boolean(s.emailsFrom == Settings::kDefaultInbox); // 19
    w.String(s.messageSource);                          // 20
    w.String("");                                       // 21
    w.Boolean(s.reprocessEmails);                       // 22
    w.Integer(s.sortOrder);                             // 23
    w.Boolean(s.descending);                            // 24
    w.String(s.tagText);                                // 25
    w.String(JoinLines(s.extensions));                  // 26
    w.String(JoinLines(s.extensionActions));            // 27
    WriteId(w, s.sourceFolder.folderId);                // 28
    WriteId(w, s.destinationFolder.folderId);           // 29
    w.Integer(s.profile);                               // 30
    w.Integer(s.reservedInteger);                       // 31
    w.String(s.profileName);                            // 32
    w.String(s.password);                               // 33
    w.String(s.manualFolder);                           // 34
    w.String(s.manualFormat);                           // 35
    WriteId(w, s.sourceFolder.storeId);                 // 36
    WriteId(w, s.destinationFolder.storeId);            // 37
    w.Boolean(s.readStatus);                            // 38
    w.String(s.wordMacro);                              // 39
}

// Reads the property's values into the record as they arrive, so that a
// failure leaves what was read before it.
// A text value: files written by earlier versions hold Windows-1252, current
// ones UTF-8.  Paths and the password are taken as the bytes they are.
std::string Text(ValueReader& r) {
    return Utf8OrWindows1252(r.String());
}

void ReadData(Settings& s, ValueReader& r) {
    const std::int32_t v = r.Integer();
    s.formatVersion = v;
    if (v >= 13) {
        r.String(); // comment
    }
    s.filterFilename = r.String();
    s.directory = r.String();
    s.firstNumber = r.Integer();
    s.fileNameFormat = Text(r);
    const bool includeSubject = r.Boolean();
    s.startTag = Text(r);
    s.endTag = Text(r);
    s.includeAttachments = r.Boolean();

    if (v >= 2) {
        s.messageDestination = Text(r);
    } else {
        s.messageDestination.clear();
    }
    if (v >= 3) {
        r.String();
    }
    if (v >= 4) {
        r.Boolean();
        r.String();
        r.String();
    }

    if (v >= 5) {
        s.emailHeader = includeSubject ? "%SUBJECT\r\n\r\n" : "";
        if (v <= 10) {
            s.emailHeader += "From: %FROM\r\nSent: %SENT\r\nTo: %TO\r\nSubject: %SUBJECT\r\n\r\n";
        }
        s.emailHeader += Text(r);
        s.emailFooter = Text(r);
    } else {
        s.emailHeader.clear();
        s.emailFooter.clear();
    }

    if (v >= 6) {
        if (v >= 10) {
            s.emailsTo = r.Integer();
        } else {
            s.emailsTo = r.Boolean() ? 1 : 0;
        }
        s.emailsFrom = r.Boolean() ? Settings::kDefaultInbox : Settings::kFromFolder;
        s.messageSource = Text(r);
        r.String();
    } else {
        s.emailsTo = Settings::kMoveEmails;
        s.emailsFrom = Settings::kDefaultInbox;
        s.messageSource.clear();
    }

    s.reprocessEmails = v >= 7 ? r.Boolean() : false;
    s.sortOrder = v >= 8 ? r.Integer() : 0;
    s.descending = v >= 9 ? r.Boolean() : false;
    s.tagText = v >= 10 ? Text(r) : std::string("*QF* ");

    s.extensions.clear();
    s.extensionActions.clear();
    if (v >= 12) {
        s.extensions = SplitLines(r.String());
        s.extensionActions = SplitLines(r.String());
    } else {
        s.RestoreDefaultExtensions();
    }

    if (v >= 13) {
        ReadId(r, s.sourceFolder.folderId);
        ReadId(r, s.destinationFolder.folderId);
        s.profile = r.Integer();
        s.reservedInteger = r.Integer();
        s.profileName = Text(r);
        s.password = r.String();
    } else {
        s.messageSource.clear();
        s.messageDestination.clear();
        s.profile = 0;
        s.reservedInteger = 0;
        s.profileName.clear();
        s.password.clear();
    }

    if (v >= 14) {
        s.manualFolder = r.String();
        s.manualFormat = Text(r);
    } else {
        s.manualFolder = InstallationFolder() + "Manual/";
        s.manualFormat = "%FROM_%NUMBER";
    }

    if (v >= 15) {
        ReadId(r, s.sourceFolder.storeId);
        ReadId(r, s.destinationFolder.storeId);
    } else {
        s.messageSource.clear();
        s.messageDestination.clear();
        s.profile = 0;
        s.reservedInteger = 0;
    }

    if (v >= 16) {
        s.readStatus = r.Boolean();
        s.wordMacro = Text(r);
    } else {
        s.readStatus = true;
        s.wordMacro.clear();
    }
}

} // namespace

std::string Settings::SaveToBytes() const {
    ValueWriter w;
    w.Raw(options::kSignature);
    w.ShortString(options::kClassName);
    w.ShortString(""); // component name
    w.ShortString(options::kPropertyName);
    WriteData(*this, w);
    w.Byte(0); // end of the property list
    w.Byte(0); // end of the child list
    return w.Bytes();
}

void Settings::LoadFromBytes(std::string_view bytes) {
    if (!bytes.starts_with(options::kSignature)) {
        throw Error("Invalid stream format");
    }
    ValueReader r(bytes.substr(options::kSignature.size()));
    // An optional filer-flags prefix (F0..FF), with a child position after
    // it when flag 2 is set.
    if ((r.PeekByte() & 0xF0) == 0xF0) {
        if (r.Byte() & 0x02) {
            r.Integer();
        }
    }
    r.ShortString(); // class name: the record reads itself whatever it says
    r.ShortString(); // component name
    for (;;) {
        const std::uint8_t len = r.PeekByte();
        if (len == 0) {
            r.Byte();
            break;
        }
        std::string name;
        try {
            name = r.ShortString();
            if (!EqualsNoCase(name, options::kPropertyName)) {
                throw Error("Property does not exist");
            }
            ReadData(*this, r);
        } catch (const Error& e) {
            throw Error("Error reading " + std::string(options::kClassName) + "." + name + ": " +
                        e.what());
        }
    }
    if (r.Byte() != 0) {
        throw Error("Invalid stream format"); // children: an options file has none
    }
}

namespace {

// Reads at most options::kMaxFileSize + 1 bytes: a device or a huge file
// named as an options file must not fill the memory.  Errors keep their
// usual text and say which file and why.
std::string ReadOptionsFile(const std::string& path) {
    // Throws "Cannot open file <path>: <reason>".
    const std::string bytes = ReadFileBytes(path, options::kMaxFileSize + 1);
    if (bytes.empty()) {
        throw Error("Invalid stream format: " +
                    TranslateFmt(8701, "the options file %s is empty", {path}));
    }
    if (bytes.size() > options::kMaxFileSize || !bytes.starts_with(options::kSignature)) {
        throw Error("Invalid stream format: " +
                    TranslateFmt(8700, "%s is not a Quillfence options file", {path}));
    }
    return bytes;
}

} // namespace

void Settings::LoadFromFile(const std::string& path) {
    const std::string bytes = ReadOptionsFile(path);
    try {
        LoadFromBytes(bytes);
    } catch (const Error& e) {
        throw Error(std::string(e.what()) + ": " +
                    TranslateFmt(8702, "the options file %s is damaged", {path}));
    }
    optionsFilePath = path;
}

void Settings::SaveToFile(const std::string& path) {
    // The file holds the profile password as plain text: owner-only when new
    // (an owner who shares it with a team keeps the mode they gave it), and
    // replaced atomically so a failed save never leaves a cut file behind.  An
    // options file kept behind a link is written where the link leads.
    WriteFileAtomic(path, SaveToBytes(), 0600, FollowLinks::Yes);
    optionsFilePath = path;
}

} // namespace qf
