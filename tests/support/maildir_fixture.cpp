#include "support/maildir_fixture.h"

#include "common/error.h"
#include "mail/session.h"
#include "mail/store.h"
#include "platform/messaging/mapi.h"

#include <functional>
#include <gmime/gmime.h>
#include <memory>

namespace qf::testing {
namespace {

// Base64 in lines of 76 characters, as mail carries it.
std::string Base64(const std::string& in) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    int line = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += k[(v >> 18) & 63];
        out += k[(v >> 12) & 63];
        out += k[(v >> 6) & 63];
        out += k[v & 63];
        if (++line == 19) {
            out += "\n";
            line = 0;
        }
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) {
            v |= static_cast<unsigned char>(in[i + 1]) << 8;
        }
        out += k[(v >> 18) & 63];
        out += k[(v >> 12) & 63];
        out += i + 1 < in.size() ? k[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out + "\n";
}

} // namespace

std::string Render(const Mail& m) {
    std::string head = "Received: from mx.example by brindle.example; " + m.received +
                       "\nFrom: " + m.from + "\nTo: " + m.to + "\nSubject: " + m.subject +
                       "\nDate: " + m.date + "\nMessage-ID: <" +
                       std::to_string(std::hash<std::string>{}(m.subject + m.date)) +
                       "@test.example>\nMIME-Version: 1.0\n";
    if (m.parts.empty()) {
        return head + "Content-Type: text/plain; charset=utf-8\n\n" + m.body;
    }
    const std::string b = "=-=part-boundary=-=";
    std::string out = head + "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b +
                      "\nContent-Type: text/plain; charset=utf-8\n\n" + m.body + "\n";
    for (const Part& p : m.parts) {
        out += "--" + b + "\n";
        if (p.embedded) {
            out += "Content-Type: message/rfc822\nContent-Disposition: attachment; filename=\"" +
                   p.fileName + "\"\n\n" + p.bytes + "\n";
        } else {
            out += "Content-Type: " + p.contentType + "; name=\"" + p.fileName +
                   "\"\nContent-Disposition: attachment; filename=\"" + p.fileName +
                   "\"\nContent-Transfer-Encoding: base64\n\n" + Base64(p.bytes);
        }
    }
    return out + "--" + b + "--\n";
}

std::string MaildirFixture::StoredText(const std::string& file) {
    std::string out = ReadFileBytes(file);
    g_mime_init();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(out.data(), out.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (message) {
        GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message));
        do {
            GMimeObject* part = g_mime_part_iter_get_current(iter);
            if (part && GMIME_IS_TEXT_PART(part)) {
                if (char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(part))) {
                    out += "\n";
                    out += text;
                    g_free(text);
                }
            }
        } while (g_mime_part_iter_next(iter));
        g_mime_part_iter_free(iter);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

FolderReference MaildirFixture::FindFolder(const std::string& displayName) const {
    MapiSession session;
    session.ListStores();
    FolderReference ref;
    for (const auto& [name, store] : session.Stores()) {
        std::shared_ptr<mapi::IMsgStore> ms = store->GetMsgStore();
        std::vector<mapi::PropValue> props;
        const mapi::PropTagArray tags = {mapi::PR_IPM_SUBTREE_ENTRYID};
        if (mapi::Failed(ms->GetProps(&tags, 0, props)) || props.empty() ||
            props[0].Bin() == nullptr) {
            continue;
        }
        std::shared_ptr<mapi::IUnknown> object;
        std::uint32_t type = 0;
        if (mapi::Failed(
                ms->OpenEntry(*props[0].Bin(), mapi::Iid::IMAPIFolder, 0, &type, object))) {
            continue;
        }
        auto top = std::dynamic_pointer_cast<mapi::IMAPIFolder>(object);
        std::shared_ptr<mapi::IMAPITable> table;
        mapi::RowSet rows;
        const mapi::PropTagArray columns = {mapi::PR_DISPLAY_NAME, mapi::PR_ENTRYID};
        if (!top || mapi::Failed(top->GetHierarchyTable(0, table)) ||
            mapi::Failed(mapi::HrQueryAllRows(*table, &columns, nullptr, 0, rows))) {
            continue;
        }
        for (const auto& row : rows) {
            if (row.size() == 2 && row[0].Text() && *row[0].Text() == displayName && row[1].Bin()) {
                ref.storeId.Assign(store->EntryIdBytes());
                ref.folderId.Assign(*row[1].Bin());
                return ref;
            }
        }
    }
    throw Error("no folder " + displayName);
}

} // namespace qf::testing
