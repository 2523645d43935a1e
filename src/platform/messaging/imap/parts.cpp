#include "platform/messaging/imap/parts.h"

namespace qf::mapi::imap {

namespace {

bool IsOmitted(const PartShape& part) {
    return part.kind == PartShape::Kind::Leaf && part.attachment && part.encodedSize > kLargePart;
}

void Plan(const PartShape& part, bool top, PartsPlan& plan, std::size_t& leaves, bool& feasible) {
    const std::string name = SectionName(part.section);
    if (!top) {
        plan.sections.push_back(name + ".MIME");
    }
    if (part.kind == PartShape::Kind::Multipart) {
        feasible = feasible && !part.boundary.empty();
        for (const PartShape& child : part.parts) {
            Plan(child, false, plan, leaves, feasible);
        }
        return;
    }
    const std::size_t leaf = leaves++;
    if (IsOmitted(part)) {
        plan.omitted[leaf] = part;
    } else {
        plan.sections.push_back(name);
    }
}

// A header block ends with an empty line.
void AppendHeader(std::string& out, const std::string& header) {
    out += header;
    if (header.empty() || header.back() != '\n') {
        out += '\n';
    }
    if (header.size() < 2 || header.compare(header.size() - 2, 2, "\n\n") != 0) {
        out += '\n';
    }
}

struct Assembly {
    const std::map<std::string, std::string>& sections;
    const std::map<std::size_t, std::string>* markers;
    std::size_t leaves = 0;
};

bool Assemble(const PartShape& part, bool top, Assembly& a, std::string& out) {
    const std::map<std::string, std::string>& sections = a.sections;
    const std::string name = SectionName(part.section);
    if (!top) {
        const auto header = sections.find(name + ".MIME");
        if (header == sections.end()) {
            return false;
        }
        AppendHeader(out, header->second);
    }
    if (part.kind == PartShape::Kind::Multipart) {
        for (const PartShape& child : part.parts) {
            out += "--" + part.boundary + "\n";
            if (!Assemble(child, false, a, out)) {
                return false;
            }
            // The line end before a boundary belongs to the boundary.
            out += "\n";
        }
        out += "--" + part.boundary + "--\n";
        return true;
    }
    const std::size_t leaf = a.leaves++;
    if (IsOmitted(part)) {
        if (a.markers != nullptr) {
            const auto marker = a.markers->find(leaf);
            out += marker != a.markers->end() ? marker->second : std::string();
        }
        return true;
    }
    const auto content = sections.find(name);
    if (content == sections.end()) {
        return false;
    }
    out += content->second;
    return true;
}

} // namespace

std::optional<PartsPlan> PlanParts(const PartShape& shape) {
    PartsPlan plan;
    std::size_t leaves = 0;
    bool feasible = true;
    Plan(shape, true, plan, leaves, feasible);
    if (!feasible) {
        return std::nullopt;
    }
    return plan;
}

std::optional<std::string> AssembleParts(const std::string& header, const PartShape& shape,
                                         const std::map<std::string, std::string>& sections,
                                         const std::map<std::size_t, std::string>* markers) {
    std::string out;
    AppendHeader(out, header);
    Assembly a{sections, markers};
    if (!Assemble(shape, true, a, out)) {
        return std::nullopt;
    }
    return out;
}

std::uint64_t DecodedSizeOf(const PartShape& part) {
    const std::uint64_t size = part.encodedSize;
    if (part.encoding != mime::TransferEncoding::Base64) {
        return size;
    }
    const std::uint64_t lines = (size + 77) / 78; // 76 characters and CR LF
    const std::uint64_t characters = size > 2 * lines ? size - 2 * lines : 0;
    return characters / 4 * 3;
}

} // namespace qf::mapi::imap
