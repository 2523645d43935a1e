// Messages and attachments read from parsed MIME: the IMessage and IAttach
// objects every provider hands out.  A provider derives its stored message from
// MimeMessage and says how the message is loaded, whether it may change, and
// what it knows about its storage; messages inside messages come as they are.
#pragma once

#include "platform/messaging/mapi.h"
#include "platform/messaging/mime/content.h"
#include "platform/messaging/mime/message_props.h"
#include "platform/messaging/props.h"

#include <memory>
#include <optional>
#include <string>

namespace qf::mapi::mime {

// What a message read from MIME takes from its store.
struct MessageOrigin {
    StoreUid store{};
    std::uint32_t supportMask = 0; // PR_STORE_SUPPORT_MASK
    std::string component;         // names the provider in failure reports
};

class MimeAttach : public IAttach {
public:
    MimeAttach(std::shared_ptr<ParsedContent> content, std::size_t index, MessageOrigin origin);

    // The attachment's properties, as its row in the attachment table.
    static std::vector<PropValue> RowOf(ParsedContent& content, std::size_t index);

    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override;
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override;
    HRESULT OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                         std::shared_ptr<IUnknown>& object) override;
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }

private:
    std::shared_ptr<ParsedContent> content_;
    std::size_t index_;
    MessageOrigin origin_;
    std::vector<PropValue> row_;
    LastError error_;
};

// A message read from parsed MIME: the base of stored and embedded messages.
class MimeMessage : public IMessage {
public:
    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override;
    HRESULT GetAttachmentTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override;
    HRESULT OpenAttach(std::uint32_t number, Iid iid, std::uint32_t,
                       std::shared_ptr<IAttach>& attach) override;
    // PR_BODY and PR_SUBJECT open for reading and writing, PR_BODY_HTML for reading.
    HRESULT OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                         std::shared_ptr<IUnknown>& object) override;
    // Subject and body are kept until SaveChanges; other properties are computed.
    HRESULT SetProps(const std::vector<PropValue>& values,
                     std::vector<PropProblem>* problems) override;
    HRESULT OpenRawStream(std::shared_ptr<IStream>& stream) override;

protected:
    explicit MimeMessage(MessageOrigin origin);

    virtual HRESULT Load() = 0;      // makes content_ available
    virtual HRESULT CanModify() = 0; // S_OK, or the failure recorded
    virtual MessageFacts Facts() = 0;
    // Facts with the store's part filled in.
    MessageFacts OriginFacts() const;

    MessageOrigin origin_;
    std::shared_ptr<ParsedContent> content_;
    std::optional<std::string> pendingSubject_;
    std::optional<std::string> pendingBody_;
    LastError error_;

private:
    HRESULT OpenTextForWriting(PropTag tag, std::uint32_t flags, std::shared_ptr<IUnknown>& object);
    HRESULT OpenTextForReading(PropTag tag, std::shared_ptr<IUnknown>& object);
};

// A message attached to another one: read-only.
class EmbeddedMessage : public MimeMessage {
public:
    EmbeddedMessage(std::shared_ptr<ParsedContent> content, MessageOrigin origin);
    HRESULT SetReadFlag(std::uint32_t) override { return S_OK; }
    HRESULT SaveChanges(std::uint32_t) override;

protected:
    HRESULT Load() override { return S_OK; }
    HRESULT CanModify() override;
    MessageFacts Facts() override;
};

} // namespace qf::mapi::mime
