#include "platform/messaging/mime/gmime_support.h"

#include "common/text.h"

namespace qf::mapi::mime {

namespace {

std::string BytesOf(GMimeStream* mem) {
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    return std::string(reinterpret_cast<const char*>(arr->data), arr->len);
}

} // namespace

GMimeParserOptions* ParserOptions() {
    static GMimeParserOptions* options = [] {
        g_mime_init();
        GMimeParserOptions* o = g_mime_parser_options_new();
        static const char* fallback[] = {"utf-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        return o;
    }();
    return options;
}

std::string LowerTypeOf(GMimeObject* object) {
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    if (ct == nullptr) {
        return "text/plain";
    }
    const char* t = g_mime_content_type_get_media_type(ct);
    const char* s = g_mime_content_type_get_media_subtype(ct);
    return ToLowerAscii(std::string(t ? t : "application") + "/" + (s ? s : "octet-stream"));
}

std::string DecodedBytes(GMimeObject* object) {
    if (!GMIME_IS_PART(object)) {
        return {};
    }
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    if (content == nullptr) {
        return {};
    }
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, mem);
    std::string out = BytesOf(mem);
    g_object_unref(mem);
    return out;
}

std::string SerializeObject(GMimeObject* object, bool crlf) {
    GMimeFormatOptions* fo = g_mime_format_options_clone(nullptr);
    g_mime_format_options_set_newline_format(fo, crlf ? GMIME_NEWLINE_FORMAT_DOS
                                                      : GMIME_NEWLINE_FORMAT_UNIX);
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(object, fo, mem);
    std::string out = BytesOf(mem);
    g_object_unref(mem);
    g_mime_format_options_free(fo);
    return out;
}

} // namespace qf::mapi::mime
