#include "platform/messaging/mime/streams.h"

#include "platform/messaging/mime/gmime_support.h"

#include <algorithm>
#include <cstring>

namespace qf::mapi::mime {

namespace {

// Copies up to `count` bytes of `data` from `pos` on, and moves `pos` past them.
HRESULT ReadAt(const std::string& data, std::size_t& pos, void* buffer, std::uint32_t count,
               std::uint32_t* read) {
    const std::size_t n = std::min<std::size_t>(count, data.size() - pos);
    if (n > 0) {
        std::memcpy(buffer, data.data() + pos, n);
    }
    pos += n;
    if (read != nullptr) {
        *read = static_cast<std::uint32_t>(n);
    }
    return S_OK;
}

} // namespace

HRESULT ReadStream::Read(void* buffer, std::uint32_t count, std::uint32_t* read) {
    return ReadAt(data_, pos_, buffer, count, read);
}

HRESULT ReadStream::Write(const void*, std::uint32_t, std::uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return STG_E_ACCESSDENIED;
}

HRESULT WriteStream::Read(void* buffer, std::uint32_t count, std::uint32_t* read) {
    return ReadAt(data_, pos_, buffer, count, read);
}

HRESULT WriteStream::Write(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    if (buffer == nullptr && count > 0) {
        return STG_E_INVALIDPOINTER;
    }
    data_.replace(pos_, std::min<std::size_t>(count, data_.size() - pos_),
                  static_cast<const char*>(buffer), count);
    pos_ += count;
    if (written != nullptr) {
        *written = count;
    }
    return S_OK;
}

HRESULT WriteStream::Commit(std::uint32_t) {
    sink_(data_);
    return S_OK;
}

} // namespace qf::mapi::mime

namespace qf::mapi::mime {

// GMime's base64 and quoted-printable filters keep their own state between
// calls, so a chunk may end anywhere, even inside an encoded quantum.  Line
// ends come as CR LF from the wire and are read as LF, as whole messages are;
// a CR that ends a chunk waits for the next one.
struct ChunkedDecodeStream::Decoder {
    GMimeFilter* filter = nullptr;
    bool pendingCr = false;
    ~Decoder() {
        if (filter != nullptr) {
            g_object_unref(filter);
        }
    }
    std::string WithoutCr(const std::string& chunk, bool last) {
        std::string in;
        in.reserve(chunk.size() + 1);
        if (pendingCr) {
            in += '\r';
        }
        in += chunk;
        pendingCr = !last && !in.empty() && in.back() == '\r';
        if (pendingCr) {
            in.pop_back();
        }
        std::string out;
        out.reserve(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            if (in[i] != '\r' || i + 1 >= in.size() || in[i + 1] != '\n') {
                out += in[i];
            }
        }
        return out;
    }
    // Decodes `chunk` (the last piece when `last`) onto `out`.
    void Run(const std::string& chunk, bool last, std::string& out) {
        std::string in = WithoutCr(chunk, last);
        if (filter == nullptr) {
            out.append(in);
            return;
        }
        char* result = nullptr;
        std::size_t length = 0;
        std::size_t prespace = 0;
        if (last) {
            g_mime_filter_complete(filter, in.data(), in.size(), 0, &result, &length, &prespace);
        } else {
            g_mime_filter_filter(filter, in.data(), in.size(), 0, &result, &length, &prespace);
        }
        out.append(result, length);
    }
};

ChunkedDecodeStream::ChunkedDecodeStream(TransferEncoding encoding, std::uint32_t chunkSize,
                                         Fetch fetch)
    : decoder_(std::make_unique<Decoder>()), chunkSize_(std::max<std::uint32_t>(chunkSize, 1)),
      fetch_(std::move(fetch)) {
    ParserOptions(); // GMime initialised
    if (encoding == TransferEncoding::Base64) {
        decoder_->filter = g_mime_filter_basic_new(GMIME_CONTENT_ENCODING_BASE64, FALSE);
    } else if (encoding == TransferEncoding::QuotedPrintable) {
        decoder_->filter = g_mime_filter_basic_new(GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, FALSE);
    }
}

ChunkedDecodeStream::~ChunkedDecodeStream() = default;

HRESULT ChunkedDecodeStream::FetchMore() {
    std::string chunk;
    if (HRESULT hr = fetch_(offset_, chunkSize_, chunk); Failed(hr)) {
        return hr;
    }
    if (chunk.size() > chunkSize_) {
        chunk.resize(chunkSize_); // a server that sends more than asked for
    }
    offset_ += chunk.size();
    ended_ = chunk.size() < chunkSize_;
    decoded_.erase(0, pos_);
    pos_ = 0;
    decoder_->Run(chunk, ended_, decoded_);
    largestHeld_ = std::max(largestHeld_, chunk.size() + decoded_.size());
    return S_OK;
}

HRESULT ChunkedDecodeStream::Read(void* buffer, std::uint32_t count, std::uint32_t* read) {
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        if (pos_ == decoded_.size()) {
            if (ended_) {
                break;
            }
            if (HRESULT hr = FetchMore(); Failed(hr)) {
                if (read != nullptr) {
                    *read = static_cast<std::uint32_t>(done);
                }
                return hr;
            }
            continue;
        }
        const std::size_t n = std::min<std::size_t>(count - done, decoded_.size() - pos_);
        std::memcpy(out + done, decoded_.data() + pos_, n);
        pos_ += n;
        done += n;
    }
    if (read != nullptr) {
        *read = static_cast<std::uint32_t>(done);
    }
    return S_OK;
}

HRESULT ChunkedDecodeStream::Write(const void*, std::uint32_t, std::uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return STG_E_ACCESSDENIED;
}

} // namespace qf::mapi::mime
