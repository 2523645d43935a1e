#include "platform/messaging/mime/html_text.h"

#include <gumbo.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace qf::mapi::mime {

namespace {

// The text being built.  Spaces and line breaks are held back until the next
// text shows whether it needs them, so markup never leaves runs of blanks.
class TextBuilder {
public:
    explicit TextBuilder(std::size_t expected) { out_.reserve(expected); }

    void Text(std::string_view s) {
        if (s.empty()) {
            return;
        }
        if (pendingBreak_ > 0 && !out_.empty()) {
            TrimSpaces();
            int have = 0;
            for (auto it = out_.rbegin(); it != out_.rend() && *it == '\n'; ++it) {
                ++have;
            }
            out_.append(static_cast<std::size_t>(std::max(0, pendingBreak_ - have)), '\n');
        } else if (pendingSpace_ && !out_.empty() && out_.back() != '\n' && out_.back() != ' ') {
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
    // The text written since `mark` (see Mark()).
    std::string_view Since(std::size_t mark) const {
        return std::string_view(out_).substr(std::min(mark, out_.size()));
    }
    std::size_t Mark() const { return out_.size(); }
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

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// A run of text as a browser lays it out outside <pre>: every run of blanks
// becomes one space; a no-break space is written as a plain space.
void WriteFlowText(std::string_view s, TextBuilder& out) {
    std::size_t i = 0;
    while (i < s.size()) {
        if (IsBlank(s[i])) {
            out.Space();
            ++i;
            continue;
        }
        if (s.compare(i, 2, "\xC2\xA0") == 0) {
            out.Space();
            i += 2;
            continue;
        }
        std::size_t j = i + 1;
        while (j < s.size() && !IsBlank(s[j]) && s.compare(j, 2, "\xC2\xA0") != 0) {
            ++j;
        }
        out.Text(s.substr(i, j - i));
        i = j;
    }
}

// Preformatted text: every line kept as it stands.
void WritePreText(std::string_view s, TextBuilder& out) {
    std::size_t i = 0;
    while (i <= s.size()) {
        const std::size_t e = std::min(s.find('\n', i), s.size());
        std::string_view line = s.substr(i, e - i);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        out.Text(line);
        if (e == s.size()) {
            break;
        }
        out.LineBreak();
        i = e + 1;
    }
}

std::string_view Attribute(const GumboElement& e, const char* name) {
    const GumboAttribute* a = gumbo_get_attribute(&e.attributes, name);
    return a != nullptr && a->value != nullptr ? std::string_view(a->value) : std::string_view();
}

bool IsOneOf(GumboTag tag, std::initializer_list<GumboTag> tags) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// Elements whose content is never shown as text.
bool IsHidden(GumboTag tag) {
    return IsOneOf(tag, {GUMBO_TAG_HEAD, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TITLE,
                         GUMBO_TAG_TEMPLATE, GUMBO_TAG_NOSCRIPT, GUMBO_TAG_OBJECT, GUMBO_TAG_IFRAME,
                         GUMBO_TAG_SELECT, GUMBO_TAG_TEXTAREA});
}

// Blank lines before and after an element: 2 for paragraphs, 1 for other blocks.
int BlockLines(GumboTag tag) {
    if (IsOneOf(tag, {GUMBO_TAG_P, GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4,
                      GUMBO_TAG_H5, GUMBO_TAG_H6, GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_PRE,
                      GUMBO_TAG_TABLE, GUMBO_TAG_UL, GUMBO_TAG_OL, GUMBO_TAG_DL, GUMBO_TAG_HR})) {
        return 2;
    }
    if (IsOneOf(tag, {GUMBO_TAG_DIV,    GUMBO_TAG_TR,      GUMBO_TAG_LI,        GUMBO_TAG_DT,
                      GUMBO_TAG_DD,     GUMBO_TAG_CAPTION, GUMBO_TAG_ADDRESS,   GUMBO_TAG_ARTICLE,
                      GUMBO_TAG_ASIDE,  GUMBO_TAG_CENTER,  GUMBO_TAG_FIELDSET,  GUMBO_TAG_FIGURE,
                      GUMBO_TAG_FOOTER, GUMBO_TAG_FORM,    GUMBO_TAG_HEADER,    GUMBO_TAG_MAIN,
                      GUMBO_TAG_NAV,    GUMBO_TAG_SECTION, GUMBO_TAG_THEAD,     GUMBO_TAG_TBODY,
                      GUMBO_TAG_TFOOT,  GUMBO_TAG_BODY,    GUMBO_TAG_FIGCAPTION})) {
        return 1;
    }
    return 0;
}

// The address a link shows after its text, or nothing when the text already
// says it (or the link leads nowhere a reader could follow).
std::string LinkSuffix(std::string_view href, std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    if (href.empty() || href.front() == '#' || href.rfind("javascript:", 0) == 0) {
        return {};
    }
    std::string_view bare = href;
    if (bare.rfind("mailto:", 0) == 0) {
        bare.remove_prefix(7);
    }
    const auto trimmed = [](std::string_view s) {
        while (!s.empty() && s.back() == '/') {
            s.remove_suffix(1);
        }
        return s;
    };
    if (text.empty() || trimmed(text) == trimmed(bare) || trimmed(text) == trimmed(href)) {
        return text.empty() ? std::string(href) : std::string();
    }
    return " <" + std::string(href) + ">";
}

// One step of the walk: an element to open, or one whose content is done.
struct Step {
    const GumboNode* node;
    bool closing;
    std::size_t mark; // where the element's text starts (links)
};

class Renderer {
public:
    explicit Renderer(std::size_t expected) : out_(expected) {}

    // Walks the tree without recursion: a deeply nested document cannot
    // exhaust the stack.
    void Walk(const GumboNode* root) {
        std::vector<Step> stack{{root, false, 0}};
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            if (step.closing) {
                Close(step);
                continue;
            }
            const GumboNode* n = step.node;
            if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE ||
                n->type == GUMBO_NODE_CDATA) {
                WriteText(n->v.text.text);
                continue;
            }
            if (n->type != GUMBO_NODE_ELEMENT && n->type != GUMBO_NODE_TEMPLATE &&
                n->type != GUMBO_NODE_DOCUMENT) {
                continue; // comments
            }
            const GumboVector& children =
                n->type == GUMBO_NODE_DOCUMENT ? n->v.document.children : n->v.element.children;
            if (n->type != GUMBO_NODE_DOCUMENT) {
                if (IsHidden(n->v.element.tag)) {
                    continue;
                }
                Open(n->v.element);
                stack.push_back({n, true, out_.Mark()});
            }
            for (unsigned i = children.length; i-- > 0;) {
                stack.push_back({static_cast<const GumboNode*>(children.data[i]), false, 0});
            }
        }
    }

    std::string Finish() { return out_.Finish(); }

private:
    void WriteText(const char* text) {
        if (pre_ > 0) {
            WritePreText(text, out_);
        } else {
            WriteFlowText(text, out_);
        }
    }

    void Open(const GumboElement& e) {
        const int lines = BlockLines(e.tag);
        if (lines > 0) {
            out_.Break(lines);
        }
        switch (e.tag) {
        case GUMBO_TAG_BR:
            out_.LineBreak();
            break;
        case GUMBO_TAG_PRE:
            ++pre_;
            break;
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
            out_.Space();
            break;
        case GUMBO_TAG_UL:
        case GUMBO_TAG_OL:
            lists_.push_back(e.tag == GUMBO_TAG_OL ? StartNumber(e) : 0);
            break;
        case GUMBO_TAG_LI:
            out_.Text(ListMarker());
            break;
        case GUMBO_TAG_HR:
            out_.Text("----------");
            break;
        case GUMBO_TAG_IMG:
            WriteFlowText(Attribute(e, "alt"), out_);
            break;
        default:
            break;
        }
    }

    void Close(const Step& step) {
        const GumboElement& e = step.node->v.element;
        switch (e.tag) {
        case GUMBO_TAG_PRE:
            --pre_;
            break;
        case GUMBO_TAG_UL:
        case GUMBO_TAG_OL:
            lists_.pop_back();
            break;
        case GUMBO_TAG_A: {
            const std::string text(out_.Since(step.mark));
            out_.Text(LinkSuffix(Attribute(e, "href"), text));
            break;
        }
        default:
            break;
        }
        const int lines = BlockLines(e.tag);
        if (lines > 0) {
            out_.Break(lines);
        }
    }

    static int StartNumber(const GumboElement& e) {
        const std::string start(Attribute(e, "start"));
        try {
            return start.empty() ? 1 : std::stoi(start);
        } catch (const std::exception&) {
            return 1;
        }
    }

    // "* " in a bulleted list (and outside any list), "3. " in a numbered one;
    // nested lists are indented.
    std::string ListMarker() {
        const std::string indent(lists_.empty() ? 0 : 2 * (lists_.size() - 1), ' ');
        if (lists_.empty() || lists_.back() == 0) {
            return indent + "* ";
        }
        return indent + std::to_string(lists_.back()++) + ". ";
    }

    TextBuilder out_;
    int pre_ = 0;
    std::vector<int> lists_; // per open list: the next number, 0 for bullets
};

} // namespace

std::string HtmlToText(std::string_view html) {
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // errors are not reported; parsing recovers as browsers do
    const std::unique_ptr<GumboOutput, void (*)(GumboOutput*)> doc(
        gumbo_parse_with_options(&options, html.data(), html.size()),
        [](GumboOutput* o) { gumbo_destroy_output(&kGumboDefaultOptions, o); });
    if (!doc) {
        return {};
    }
    Renderer renderer(html.size());
    renderer.Walk(doc->document);
    return renderer.Finish();
}

} // namespace qf::mapi::mime
