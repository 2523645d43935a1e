#include "web/multipart.h"

#include <memory>
#include <mutex>
#include <random>

namespace qf::web {

RandomBelow SystemRandom() {
    auto state = std::make_shared<std::pair<std::mutex, std::mt19937>>();
    state->second.seed(std::random_device{}());
    return [state](unsigned bound) {
        const std::lock_guard lock(state->first);
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(state->second);
    };
}

std::string MultipartBoundary(std::string_view postQuery, const RandomBelow& random) {
    std::string boundary = "AaB03x";
    while (postQuery.find(boundary) != std::string_view::npos) {
        const char digit = static_cast<char>('0' + random(10) % 10);
        const char letter = static_cast<char>('A' + random(26) % 26);
        boundary = digit + boundary + letter;
    }
    return boundary;
}

MultipartPost BuildMultipartPost(std::string_view postQuery, const RandomBelow& random) {
    MultipartPost post;
    post.boundary = MultipartBoundary(postQuery, random);
    post.contentType = "Content-Type: multipart/form-data; boundary=" + post.boundary;
    post.body = "--" + post.boundary + "\r\n" +
                "Content-Disposition: form-data; name=\"data\"\r\n" +
                "Content-Transfer-Encoding: base64\r\n\r\n" + std::string(postQuery) + "\r\n--" +
                post.boundary + "--";
    return post;
}

} // namespace qf::web
