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

} // namespace

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
