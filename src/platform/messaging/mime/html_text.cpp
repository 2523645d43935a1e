#include "platform/messaging/mime/html_text.h"

#include "common/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

namespace qf::mapi::mime {

namespace {

// The text being built.  Spaces and line breaks are held back until the next
// text shows whether it needs them, so markup never leaves runs of blanks.
class TextBuilder {
public:
    explicit TextBuilder(std::size_t expected) { out_.reserve(expected); }

    void Text(std::string_view s) {
        if (pendingBreak_ > 0 && !out_.empty()) {
            TrimSpaces();
            int have = 0;
            for (auto it = out_.rbegin(); it != out_.rend() && *it == '\n'; ++it) {
                ++have;
            }
            out_.append(static_cast<std::size_t>(std::max(0, pendingBreak_ - have)), '\n');
        } else if (pendingSpace_ && !out_.empty() && out_.back() != '\n') {
            out_ += ' ';
        }
        pendingSpace_ = false;
        pendingBreak_ = 0;
        out_.append(s);
    }
    void Space() { pendingSpace_ = true; }
    // At least `lines` line ends before the next text.
    void Break(int lines) { pendingBreak_ = std::max(pendingBreak_, lines); }
    // A <br>: one more line end.
    void LineBreak() {
        if (pendingBreak_ > 0) {
            ++pendingBreak_;
        } else if (!out_.empty()) {
            TrimSpaces();
            out_ += '\n';
            pendingSpace_ = false;
        }
    }
    std::string Finish() {
        while (!out_.empty() && (out_.back() == '\n' || out_.back() == ' ')) {
            out_.pop_back();
        }
        return std::move(out_);
    }

private:
    void TrimSpaces() {
        while (!out_.empty() && out_.back() == ' ') {
            out_.pop_back();
        }
    }

    std::string out_;
    bool pendingSpace_ = false;
    int pendingBreak_ = 0;
};

struct Tag {
    std::string name; // lower case
    bool closing = false;
};

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The tag that starts at html[i] ("<"), with `i` moved past it; nothing when it
// is never closed.
std::optional<Tag> ReadTag(std::string_view html, std::size_t& i) {
    const std::size_t e = html.find('>', i + 1);
    if (e == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view inner = html.substr(i + 1, e - i - 1);
    Tag tag;
    tag.closing = !inner.empty() && inner[0] == '/';
    if (tag.closing) {
        inner.remove_prefix(1);
    }
    std::size_t n = 0;
    while (n < inner.size() && std::isalnum(static_cast<unsigned char>(inner[n]))) {
        ++n;
    }
    tag.name = ToLowerAscii(inner.substr(0, n));
    i = e + 1;
    return tag;
}

// The position after the end tag of a raw-text element (script, style, head,
// title) whose content starts at `i`.
std::size_t SkipElement(std::string_view html, std::size_t i, const std::string& name) {
    const std::string endTag = "</" + name;
    std::size_t p = i;
    for (;;) {
        p = html.find("</", p);
        if (p == std::string_view::npos) {
            return html.size();
        }
        if (html.size() - p >= endTag.size() &&
            EqualsNoCase(html.substr(p, endTag.size()), endTag)) {
            break;
        }
        p += 2;
    }
    const std::size_t close = html.find('>', p);
    return close == std::string_view::npos ? html.size() : close + 1;
}

void ApplyTag(const Tag& tag, TextBuilder& out) {
    if (tag.name == "br") {
        out.LineBreak();
    } else if (IsOneOf(tag.name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote"})) {
        out.Break(2);
    } else if (IsOneOf(tag.name, {"div", "tr", "table", "ul", "ol", "pre", "li"})) {
        out.Break(1);
        if (tag.name == "li" && !tag.closing) {
            out.Text("* ");
        }
    } else if (IsOneOf(tag.name, {"td", "th"}) && !tag.closing) {
        out.Space();
    }
}

// The character a reference names ("amp", "#252", "#x1F600"), or nothing.
std::u16string DecodeEntity(const std::string& ent) {
    static const std::pair<const char*, char16_t> named[] = {
        {"amp", u'&'},     {"lt", u'<'},      {"gt", u'>'},      {"quot", u'"'},
        {"apos", u'\''},   {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},
        {"euro", 0x20AC},  {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026},
        {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
        {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},    {"Auml", 0xC4},
        {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},   {"eacute", 0xE9},
        {"egrave", 0xE8},  {"agrave", 0xE0},  {"ccedil", 0xE7},  {"bull", 0x2022}};
    std::u16string w;
    if (!ent.empty() && ent[0] == '#') {
        const bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
        char* endp = nullptr;
        const unsigned long cp = std::strtoul(ent.c_str() + (hex ? 2 : 1), &endp, hex ? 16 : 10);
        if (endp != nullptr && *endp == '\0' && cp > 0 && cp < 0x110000 &&
            !(cp >= 0xD800 && cp < 0xE000)) {
            AppendCodePoint(w, static_cast<char32_t>(cp));
        }
        return w;
    }
    for (const auto& [name, ch] : named) {
        if (ent == name) {
            w += ch;
            break;
        }
    }
    return w;
}

// The text of the character reference at html[i] ("&"), with `i` moved past it;
// nothing when no known reference starts there.
std::optional<std::string> ReadEntity(std::string_view html, std::size_t& i) {
    const std::size_t semi = html.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 10) {
        return std::nullopt;
    }
    const std::u16string w = DecodeEntity(std::string(html.substr(i + 1, semi - i - 1)));
    if (w.empty()) {
        return std::nullopt;
    }
    i = semi + 1;
    return w == u"\u00A0" ? std::string(" ") : Utf16ToUtf8(w);
}

} // namespace

std::string HtmlToText(std::string_view html) {
    TextBuilder out(html.size());
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<' && html.compare(i, 4, "<!--") == 0) {
            const std::size_t e = html.find("-->", i + 4);
            i = e == std::string_view::npos ? html.size() : e + 3;
            continue;
        }
        if (c == '<') {
            const std::optional<Tag> tag = ReadTag(html, i);
            if (!tag) {
                break;
            }
            if (!tag->closing && IsOneOf(tag->name, {"script", "style", "head", "title"})) {
                i = SkipElement(html, i, tag->name);
            } else {
                ApplyTag(*tag, out);
            }
            continue;
        }
        if (c == '&') {
            if (std::optional<std::string> text = ReadEntity(html, i)) {
                out.Text(*text);
                continue;
            }
        }
        if (IsBlank(c)) {
            out.Space();
            ++i;
            continue;
        }
        // The character at i is text (an "&" that starts no known reference
        // included): take it, so the scan always moves on.
        std::size_t j = i + 1;
        while (j < html.size() && html[j] != '<' && html[j] != '&' && !IsBlank(html[j])) {
            ++j;
        }
        out.Text(html.substr(i, j - i));
        i = j;
    }
    return out.Finish();
}

} // namespace qf::mapi::mime
