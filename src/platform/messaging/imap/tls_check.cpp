#include "platform/messaging/imap/tls_check.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <libetpan/libetpan.h>
#include <vector>

namespace qf::mapi::imap {

namespace {

// The certificates of a chain, freed together.
class CertList {
public:
    ~CertList() {
        for (gnutls_x509_crt_t c : certs_) {
            gnutls_x509_crt_deinit(c);
        }
    }
    bool Add(const char* der, std::size_t size) {
        gnutls_x509_crt_t crt = nullptr;
        if (gnutls_x509_crt_init(&crt) < 0) {
            return false;
        }
        gnutls_datum_t d{reinterpret_cast<unsigned char*>(const_cast<char*>(der)),
                         static_cast<unsigned int>(size)};
        if (gnutls_x509_crt_import(crt, &d, GNUTLS_X509_FMT_DER) < 0) {
            gnutls_x509_crt_deinit(crt);
            return false;
        }
        certs_.push_back(crt);
        return true;
    }
    std::vector<gnutls_x509_crt_t>& certs() { return certs_; }

private:
    std::vector<gnutls_x509_crt_t> certs_;
};

class TrustList {
public:
    TrustList() { gnutls_x509_trust_list_init(&list_, 0); }
    ~TrustList() { gnutls_x509_trust_list_deinit(list_, 1); }
    gnutls_x509_trust_list_t get() const { return list_; }

private:
    gnutls_x509_trust_list_t list_ = nullptr;
};

std::string StatusText(unsigned status) {
    gnutls_datum_t out{};
    if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &out, 0) < 0) {
        return "it does not verify";
    }
    std::string text(reinterpret_cast<char*>(out.data), out.size);
    gnutls_free(out.data);
    return text;
}

} // namespace

std::string CheckServerCertificate(mailstream* stream, const std::string& host,
                                   const std::string& caFile) {
    carray* chain = stream != nullptr ? mailstream_get_certificate_chain(stream) : nullptr;
    if (chain == nullptr || carray_count(chain) == 0) {
        if (chain != nullptr) {
            mailstream_certificate_chain_free(chain);
        }
        return "the server presented no certificate";
    }
    CertList certs;
    bool readable = true;
    for (unsigned i = 0; i < carray_count(chain); ++i) {
        const auto* der = static_cast<MMAPString*>(carray_get(chain, i));
        readable = readable && certs.Add(der->str, der->len);
    }
    mailstream_certificate_chain_free(chain);
    if (!readable) {
        return "its certificate cannot be read";
    }
    TrustList trust;
    const int added =
        caFile.empty() ? gnutls_x509_trust_list_add_system_trust(trust.get(), 0, 0)
                       : gnutls_x509_trust_list_add_trust_file(trust.get(), caFile.c_str(), nullptr,
                                                               GNUTLS_X509_FMT_PEM, 0, 0);
    if (added <= 0) {
        return caFile.empty() ? "the system has no certificate authorities"
                              : "the CA file " + caFile + " holds no certificate";
    }
    gnutls_typed_vdata_st purpose{GNUTLS_DT_DNS_HOSTNAME,
                                  reinterpret_cast<unsigned char*>(const_cast<char*>(host.c_str())),
                                  0};
    unsigned status = 0;
    if (gnutls_x509_trust_list_verify_crt2(trust.get(), certs.certs().data(),
                                           static_cast<unsigned>(certs.certs().size()), &purpose, 1,
                                           0, &status, nullptr) < 0) {
        return "it cannot be verified";
    }
    return status == 0 ? std::string() : StatusText(status);
}

} // namespace qf::mapi::imap
