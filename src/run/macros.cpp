#include "run/macros.h"

#include <array>
#include <string>

namespace qf {
namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// A value from an email, made fit to stand inside one path component.
std::string CleanForFileName(std::string_view value, bool doublePercent) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) {
            out += '_';
        } else if (c == '%' && doublePercent) {
            out += "%%";
        } else {
            out += c;
        }
    }
    return out;
}

class Expander {
public:
    Expander(MacroContext& context, MacroUse use) : context_(context), use_(use) {}

    std::string Expand(std::string_view tmpl) {
        enum class State { Text, Sign, Name } state = State::Text;
        std::string name;
        for (size_t i = 0; i < tmpl.size();) {
            const char c = tmpl[i];
            switch (state) {
            case State::Text:
                if (c == '%') {
                    state = State::Sign;
                } else {
                    out_ += c;
                }
                ++i;
                break;
            case State::Sign:
                if (IsAsciiLetter(c)) {
                    name.assign(1, c);
                    state = State::Name;
                } else if (c == '%') {
                    out_ += '%';
                    state = State::Text;
                } else {
                    out_ += '%';
                    out_ += c;
                    state = State::Text;
                }
                ++i;
                break;
            case State::Name:
                if (IsAsciiLetter(c)) {
                    name += c;
                    ++i;
                } else {
                    PutMacro(name);
                    state = State::Text;
                    if (c == '%') {
                        ++i; // consumed with the name
                    }
                }
                break;
            }
        }
        if (state == State::Sign) {
            out_ += '%';
        } else if (state == State::Name) {
            PutMacro(name);
        }
        return std::move(out_);
    }

private:
    void PutMacro(const std::string& name) {
        const std::string upper = Upper(name);
        std::optional<std::string> value;
        try {
            value = context_.Value(upper);
        } catch (...) {
            value = "Error";
        }
        if (!value) {
            out_ += '%';
            out_ += name;
            return;
        }
        if (use_ != MacroUse::Text && context_.ComesFromEmail(upper)) {
            out_ += CleanForFileName(*value, use_ == MacroUse::NameFormat);
        } else {
            out_ += *value;
        }
    }

    MacroContext& context_;
    MacroUse use_;
    std::string out_;
};

} // namespace

bool IsEmailMacro(std::string_view upperName) {
    static constexpr std::array<std::string_view, 7> kNames = {"SUBJECT", "FROM", "TO", "CC",
                                                               "BCC",     "SENT", "NOW"};
    for (auto n : kNames) {
        if (n == upperName) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> EmailMacros::Value(std::string_view upperName) {
    if (upperName == "NUMBER") {
        if (!fileNumber_) {
            return std::nullopt;
        }
        return std::to_string(*fileNumber_);
    }
    if (!IsEmailMacro(upperName)) {
        return std::nullopt;
    }
    return email_.FieldValue(upperName);
}

std::optional<std::string> AttachmentMacros::Value(std::string_view upperName) {
    if (upperName == "NUMBER") {
        if (!fileNumber_) {
            return std::nullopt;
        }
        return std::to_string(*fileNumber_);
    }
    if (upperName == "FILENAME" || upperName == "S") {
        return attachment_.FieldValue(upperName);
    }
    if (!IsEmailMacro(upperName)) {
        return std::nullopt;
    }
    EmailFields* email = attachment_.OwnerEmail();
    if (email == nullptr) {
        return std::nullopt;
    }
    return email->FieldValue(upperName);
}

std::string ExpandMacros(std::string_view tmpl, MacroContext& context, MacroUse use) {
    if (use == MacroUse::Text) {
        return Expander(context, use).Expand(tmpl);
    }
    // Values from an email cannot hold a separator, so every component of the
    // template becomes exactly one component of the name.  A component that
    // expands to "." or ".." only because of a value is not allowed to climb
    // or stay put: its dots become underscores.
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t slash = tmpl.find('/', start);
        const std::string_view part = tmpl.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        std::string expanded = Expander(context, use).Expand(part);
        if ((expanded == "." || expanded == "..") && expanded != part) {
            expanded.assign(expanded.size(), '_');
        }
        out += expanded;
        if (slash == std::string_view::npos) {
            break;
        }
        out += '/';
        start = slash + 1;
    }
    return out;
}

} // namespace qf
