// Streams over bytes held in memory: a read-only one for property values and
// attachment data, and a writable one that hands its bytes on at Commit.
#pragma once

#include "platform/messaging/mapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qf::mapi::mime {

class ReadStream : public IStream {
public:
    explicit ReadStream(std::string data) : data_(std::move(data)) {}
    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override;
    HRESULT Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override;
    HRESULT Commit(std::uint32_t) override { return S_OK; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

class WriteStream : public IStream {
public:
    using Sink = std::function<void(std::string)>;
    WriteStream(std::string initial, Sink sink)
        : data_(std::move(initial)), sink_(std::move(sink)) {}
    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override;
    HRESULT Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override;
    // Hands the whole text written so far to the sink.
    HRESULT Commit(std::uint32_t) override;

private:
    std::string data_;
    std::size_t pos_ = 0;
    Sink sink_;
};

// The transfer encodings a part's content may carry on the wire.
enum class TransferEncoding { Identity, Base64, QuotedPrintable };

// Reads a part's content that lies elsewhere (on a server) piece by piece: it
// asks `fetch` for the encoded bytes from an offset on, at most one chunk at a
// time, and decodes them as they come.  What it holds at any time is one chunk
// and what of it the reader has not taken yet, never the whole content.
class ChunkedDecodeStream : public IStream {
public:
    // Fills `chunk` with up to `length` encoded bytes from `offset` on; fewer
    // (or none) at the end of the content.
    using Fetch =
        std::function<HRESULT(std::uint64_t offset, std::uint32_t length, std::string& chunk)>;
    ChunkedDecodeStream(TransferEncoding encoding, std::uint32_t chunkSize, Fetch fetch);
    ~ChunkedDecodeStream() override;

    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override;
    HRESULT Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override;
    HRESULT Commit(std::uint32_t) override { return S_OK; }

    // The most bytes this stream held at once (encoded and decoded).
    std::size_t LargestHeld() const { return largestHeld_; }

private:
    HRESULT FetchMore();

    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
    std::uint32_t chunkSize_;
    Fetch fetch_;
    std::uint64_t offset_ = 0;
    bool ended_ = false;
    std::string decoded_;
    std::size_t pos_ = 0;
    std::size_t largestHeld_ = 0;
};

} // namespace qf::mapi::mime
