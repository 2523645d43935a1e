// Reading a part's content piece by piece: every encoding decodes to the same
// bytes whatever the chunk size (chunks that end inside a base64 quantum, a
// quoted-printable escape or a CR LF pair), only one chunk is held at a time,
// and a failed fetch is reported, not taken for the end.
#include "platform/messaging/mime/content.h"
#include "platform/messaging/mime/streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qf::mapi::testing {
namespace {

using mime::ChunkedDecodeStream;
using mime::TransferEncoding;

// Serves `wire` the way a server answers partial fetches, counting the calls.
struct FakeServer {
    std::string wire;
    int calls = 0;
    int failAt = -1;
    ChunkedDecodeStream::Fetch Fetch() {
        return [this](std::uint64_t offset, std::uint32_t length, std::string& chunk) {
            if (calls++ == failAt) {
                return MAPI_E_NETWORK_ERROR;
            }
            chunk = offset >= wire.size() ? std::string() : wire.substr(offset, length);
            return S_OK;
        };
    }
};

std::string ReadAll(ChunkedDecodeStream& stream, std::uint32_t step, HRESULT* last = nullptr) {
    std::string out;
    std::string buffer(step, '\0');
    for (;;) {
        std::uint32_t n = 0;
        const HRESULT hr = stream.Read(buffer.data(), step, &n);
        out.append(buffer.data(), n);
        if (last != nullptr) {
            *last = hr;
        }
        if (Failed(hr) || n == 0) {
            return out;
        }
    }
}

TEST(ChunkedDecodeStreamTest, EveryEncodingDecodesWhateverTheChunkSize) {
    // Bytes 0..255 repeated: base64 of it has no line ends of its own, so they
    // are added as a mailer would, with CR LF.
    std::string binary;
    for (int i = 0; i < 3000; ++i) {
        binary += static_cast<char>(i % 256);
    }
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string base64;
    for (std::size_t i = 0; i < binary.size(); i += 3) {
        const auto b = [&](std::size_t k) {
            return k < binary.size() ? static_cast<unsigned char>(binary[k]) : 0u;
        };
        const unsigned v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
        base64 += kAlphabet[(v >> 18) & 63];
        base64 += kAlphabet[(v >> 12) & 63];
        base64 += i + 1 < binary.size() ? kAlphabet[(v >> 6) & 63] : '=';
        base64 += i + 2 < binary.size() ? kAlphabet[v & 63] : '=';
        if ((i / 3 + 1) % 19 == 0) {
            base64 += "\r\n";
        }
    }
    const std::string qp = "Sch=C3=B6ne Gr=C3=BC=\r\n=C3=9Fe\r\nline two=3D\r\n";
    const std::string qpText = "Schöne Grüße\nline two=\n";
    const std::string text = "plain\r\ntext\r\n";
    for (std::uint32_t chunk : {1u, 2u, 3u, 7u, 76u, 4096u}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        FakeServer b64{base64};
        ChunkedDecodeStream s1(TransferEncoding::Base64, chunk, b64.Fetch());
        EXPECT_EQ(ReadAll(s1, 1000), binary);
        FakeServer q{qp};
        ChunkedDecodeStream s2(TransferEncoding::QuotedPrintable, chunk, q.Fetch());
        EXPECT_EQ(ReadAll(s2, 5), qpText);
        FakeServer t{text};
        ChunkedDecodeStream s3(TransferEncoding::Identity, chunk, t.Fetch());
        EXPECT_EQ(ReadAll(s3, 3), "plain\ntext\n");
    }
}

TEST(ChunkedDecodeStreamTest, HoldsOneChunkAndReportsAFailedFetch) {
    FakeServer server{std::string(1 << 20, 'x')};
    ChunkedDecodeStream stream(TransferEncoding::Identity, 4096, server.Fetch());
    EXPECT_EQ(ReadAll(stream, 65536).size(), std::size_t{1} << 20);
    EXPECT_LE(stream.LargestHeld(), 2u * 4096u);
    EXPECT_EQ(server.calls, 257); // 256 full chunks, then the empty answer that ends it

    // A lost connection mid-way is an error with what came before, never an
    // attachment cut short that looks complete.
    FakeServer failing{std::string(10000, 'y')};
    failing.failAt = 1;
    ChunkedDecodeStream broken(TransferEncoding::Identity, 4096, failing.Fetch());
    HRESULT last = S_OK;
    EXPECT_EQ(ReadAll(broken, 10000, &last).size(), 4096u);
    EXPECT_EQ(last, MAPI_E_NETWORK_ERROR);
    std::uint32_t n = 1;
    char c = 0;
    EXPECT_EQ(broken.Write(&c, 1, &n), STG_E_ACCESSDENIED);
    EXPECT_EQ(n, 0u);
}

} // namespace
} // namespace qf::mapi::testing

namespace qf::mapi::testing {
namespace {

std::string ReadInPieces(IStream& stream, std::uint32_t piece) {
    std::string out;
    std::string buffer(piece, '\0');
    std::uint32_t n = 0;
    do {
        EXPECT_EQ(stream.Read(buffer.data(), piece, &n), S_OK);
        out.append(buffer.data(), n);
    } while (n > 0);
    return out;
}

// Attachments of a parsed message are read as streams that decode as they go:
// in any piece size, and two readers of one part at once, they give the bytes
// the whole decoding gives, for every transfer encoding.
TEST(PartContentStreams, GiveWhatTheWholeDecodingGives) {
    std::string bytes = "From: a@example.org\nSubject: Parts\nMIME-Version: 1.0\n"
                        "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
                        "Content-Type: text/plain\n\nbody\n";
    using namespace std::string_literals;
    const std::pair<std::string, std::string> parts[] = {
        {"base64", "JVBERi0xLjQKJcOkw7zDtsOfCjIgMCBvYmoKPDwvTGVuZ3RoIDMgMCBSL0Zp\n"
                   "bHRlci9GbGF0ZURlY29kZT4+CnN0cmVhbQp4nD2OywoCMRAE7/MVfXZhM5mZ\n"},
        {"quoted-printable", "caf=C3=A9 =3D soft=\nbreak\nline two=20\n"},
        {"x-uuencode", "begin 644 a.bin\n#86)C\n`\nend\n"},
        {"8bit", "line one\r\nline two\r\n\x01\x02\xff"},
        {"binary", "\x00\x01\r\n\x02"s},
    };
    int n = 0;
    for (const auto& [encoding, content] : parts) {
        bytes += "--b\nContent-Type: application/octet-stream; name=\"p" + std::to_string(++n) +
                 ".bin\"\nContent-Transfer-Encoding: " + encoding + "\n\n";
        bytes += content + "\n";
    }
    bytes += "--b--\n";
    auto content = mime::ParsedContent::Parse(bytes);
    ASSERT_EQ(content->attachments().size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(parts[i].first);
        const std::string whole = content->AttachmentData(i);
        EXPECT_FALSE(whole.empty());
        for (const std::uint32_t piece : {1u, 7u, 4096u}) {
            EXPECT_EQ(ReadInPieces(*content->OpenAttachment(i), piece), whole) << piece;
        }
        auto first = content->OpenAttachment(i);
        auto second = content->OpenAttachment(i);
        char c = 0;
        std::uint32_t got = 0;
        ASSERT_EQ(first->Read(&c, 1, &got), S_OK);
        EXPECT_EQ(ReadInPieces(*second, 3), whole);
        EXPECT_EQ(std::string(1, c) + ReadInPieces(*first, 5), whole);
    }
    // The stream keeps the parsed message alive.
    auto stream = content->OpenAttachment(0);
    const std::string whole = content->AttachmentData(0);
    content.reset();
    EXPECT_EQ(ReadInPieces(*stream, 100), whole);
}

} // namespace
} // namespace qf::mapi::testing
