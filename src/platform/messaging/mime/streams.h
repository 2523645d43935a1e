// Streams over bytes held in memory: a read-only one for property values and
// attachment data, and a writable one that hands its bytes on at Commit.
#pragma once

#include "platform/messaging/mapi.h"

#include <functional>
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

} // namespace qf::mapi::mime
