#include "platform/messaging/imap/structure.h"

#include "common/text.h"

#include <libetpan/libetpan.h>
#include <string>

namespace qf::mapi::imap {

namespace {

bool HasFileName(const mailimap_body_fld_param* params) {
    if (params == nullptr || params->pa_list == nullptr) {
        return false;
    }
    for (clistiter* it = clist_begin(params->pa_list); it != nullptr; it = clist_next(it)) {
        const auto* p = static_cast<mailimap_single_body_fld_param*>(clist_content(it));
        const std::string name = p->pa_name != nullptr ? ToLowerAscii(p->pa_name) : "";
        // "filename", "name" and their RFC 2231 forms ("filename*", "name*0*").
        const bool named = name.rfind("filename", 0) == 0 || name.rfind("name", 0) == 0;
        if (named && p->pa_value != nullptr && *p->pa_value != '\0') {
            return true;
        }
    }
    return false;
}

bool IsAttachmentLeaf(const mailimap_body_type_1part& part) {
    const mailimap_body_ext_1part* ext = part.bd_ext_1part;
    const mailimap_body_fld_dsp* dsp = ext != nullptr ? ext->bd_disposition : nullptr;
    const bool attachDisp =
        dsp != nullptr && dsp->dsp_type != nullptr && EqualsNoCase(dsp->dsp_type, "attachment");
    bool named = dsp != nullptr && HasFileName(dsp->dsp_attributes);
    switch (part.bd_type) {
    case MAILIMAP_BODY_TYPE_1PART_MSG:
        return true;
    case MAILIMAP_BODY_TYPE_1PART_TEXT: {
        const mailimap_body_type_text* text = part.bd_data.bd_type_text;
        named = named || (text->bd_fields != nullptr && HasFileName(text->bd_fields->bd_parameter));
        const std::string sub =
            text->bd_media_text != nullptr ? ToLowerAscii(text->bd_media_text) : "";
        return attachDisp || named || (sub != "plain" && sub != "html");
    }
    case MAILIMAP_BODY_TYPE_1PART_BASIC:
    default:
        return true;
    }
}

std::string ParamOf(const mailimap_body_fld_param* params, const char* wanted) {
    if (params == nullptr || params->pa_list == nullptr) {
        return {};
    }
    for (clistiter* it = clist_begin(params->pa_list); it != nullptr; it = clist_next(it)) {
        const auto* p = static_cast<mailimap_single_body_fld_param*>(clist_content(it));
        if (p->pa_name != nullptr && p->pa_value != nullptr && EqualsNoCase(p->pa_name, wanted)) {
            return p->pa_value;
        }
    }
    return {};
}

const mailimap_body_fields* FieldsOf(const mailimap_body_type_1part& part) {
    switch (part.bd_type) {
    case MAILIMAP_BODY_TYPE_1PART_BASIC:
        return part.bd_data.bd_type_basic ? part.bd_data.bd_type_basic->bd_fields : nullptr;
    case MAILIMAP_BODY_TYPE_1PART_MSG:
        return part.bd_data.bd_type_msg ? part.bd_data.bd_type_msg->bd_fields : nullptr;
    case MAILIMAP_BODY_TYPE_1PART_TEXT:
        return part.bd_data.bd_type_text ? part.bd_data.bd_type_text->bd_fields : nullptr;
    default:
        return nullptr;
    }
}

mime::TransferEncoding EncodingOf(const mailimap_body_fields* fields) {
    const int type = fields != nullptr && fields->bd_encoding != nullptr
                         ? fields->bd_encoding->enc_type
                         : MAILIMAP_BODY_FLD_ENC_7BIT;
    switch (type) {
    case MAILIMAP_BODY_FLD_ENC_BASE64:
        return mime::TransferEncoding::Base64;
    case MAILIMAP_BODY_FLD_ENC_QUOTED_PRINTABLE:
        return mime::TransferEncoding::QuotedPrintable;
    default:
        return mime::TransferEncoding::Identity;
    }
}

void Shape(const mailimap_body& body, std::vector<std::uint32_t> section, PartShape& out) {
    out.section = std::move(section);
    if (body.bd_type != MAILIMAP_BODY_1PART) {
        out.kind = PartShape::Kind::Multipart;
        const mailimap_body_type_mpart* mp = body.bd_data.bd_body_mpart;
        if (mp == nullptr || mp->bd_list == nullptr) {
            return;
        }
        if (mp->bd_ext_mpart != nullptr) {
            out.boundary = ParamOf(mp->bd_ext_mpart->bd_parameter, "boundary");
        }
        std::uint32_t n = 0;
        for (clistiter* it = clist_begin(mp->bd_list); it != nullptr; it = clist_next(it)) {
            std::vector<std::uint32_t> child = out.section;
            child.push_back(++n);
            out.parts.emplace_back();
            Shape(*static_cast<mailimap_body*>(clist_content(it)), std::move(child),
                  out.parts.back());
        }
        return;
    }
    if (out.section.empty()) {
        out.section = {1}; // a message that is one part: its body is part 1
    }
    const mailimap_body_type_1part* part = body.bd_data.bd_body_1part;
    if (part == nullptr) {
        return;
    }
    out.kind = part->bd_type == MAILIMAP_BODY_TYPE_1PART_MSG ? PartShape::Kind::Message
                                                             : PartShape::Kind::Leaf;
    out.attachment = IsAttachmentLeaf(*part);
    const mailimap_body_fields* fields = FieldsOf(*part);
    out.encodedSize = fields != nullptr ? fields->bd_size : 0;
    out.encoding = EncodingOf(fields);
}

} // namespace

PartShape ShapeOf(const mailimap_body& body) {
    PartShape shape;
    Shape(body, {}, shape);
    return shape;
}

std::string SectionName(const std::vector<std::uint32_t>& section) {
    std::string name;
    for (std::uint32_t n : section) {
        name += (name.empty() ? "" : ".") + std::to_string(n);
    }
    return name;
}

bool HasAttachments(const mailimap_body& body) {
    if (body.bd_type == MAILIMAP_BODY_1PART) {
        return body.bd_data.bd_body_1part != nullptr &&
               IsAttachmentLeaf(*body.bd_data.bd_body_1part);
    }
    const mailimap_body_type_mpart* mp = body.bd_data.bd_body_mpart;
    if (mp == nullptr || mp->bd_list == nullptr) {
        return false;
    }
    for (clistiter* it = clist_begin(mp->bd_list); it != nullptr; it = clist_next(it)) {
        if (HasAttachments(*static_cast<mailimap_body*>(clist_content(it)))) {
            return true;
        }
    }
    return false;
}

} // namespace qf::mapi::imap
