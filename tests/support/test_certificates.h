// A throw-away certificate authority for TLS tests: a CA, an agent
// certificate for the loopback addresses, manager certificates (good, from
// another CA, expired) and the keys, written as PEM files in a folder of the
// test's own. EC P-256 keys keep making them quick.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "net/tls/tls_context.h"
#include "tests/support/temp_path.h"

namespace halvorin::test {

namespace detail {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

inline KeyPtr NewKey() {
    return KeyPtr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

inline void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

// Valid from `from_days` to `to_days` after now; issuer null: self-signed.
inline CertPtr NewCertificate(const std::string& common_name, EVP_PKEY* key, X509* issuer,
                              EVP_PKEY* issuer_key, long from_days, long to_days,
                              const char* alt_names) {
    static long serial = 1;
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from_days * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to_days * 86400);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Halvorin tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(cert.get(), key);
    X509* signer = issuer ? issuer : cert.get();
    if (issuer == nullptr) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    }
    if (alt_names) AddExtension(cert.get(), signer, NID_subject_alt_name, alt_names);
    X509_sign(cert.get(), issuer_key ? issuer_key : key, EVP_sha256());
    return cert;
}

inline void WritePem(const std::string& path, X509* cert) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "w"), std::fclose);
    PEM_write_X509(file.get(), cert);
}

inline void WritePem(const std::string& path, EVP_PKEY* key) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "w"), std::fclose);
    PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
}

}  // namespace detail

struct TestCertificates {
    std::string folder;
    std::string ca;      // the CA both ends trust
    TlsFiles agent;      // for 127.0.0.1, ::1 and localhost
    TlsFiles manager;    // CN=manager_name
    TlsFiles stranger;   // CN=manager_name, from another CA
    TlsFiles expired;    // CN=manager_name, expired yesterday
    TlsFiles elsewhere;  // an agent certificate for another host's name only

    explicit TestCertificates(const std::string& manager_name = "test-manager") {
        using namespace detail;
        folder = UniqueTempPath("pki");
        std::filesystem::create_directories(folder);
        ca = folder + "/ca.pem";
        KeyPtr ca_key = NewKey(), other_ca_key = NewKey();
        CertPtr ca_cert =
            NewCertificate("Test CA", ca_key.get(), nullptr, nullptr, -1, 30, nullptr);
        CertPtr other_ca =
            NewCertificate("Other CA", other_ca_key.get(), nullptr, nullptr, -1, 30, nullptr);
        WritePem(ca, ca_cert.get());
        auto issue = [&](const std::string& file, const std::string& cn, X509* issuer,
                         EVP_PKEY* issuer_key, long from, long to, const char* alt) {
            KeyPtr key = NewKey();
            CertPtr cert = NewCertificate(cn, key.get(), issuer, issuer_key, from, to, alt);
            TlsFiles files{ca, folder + "/" + file + ".pem", folder + "/" + file + ".key"};
            WritePem(files.cert, cert.get());
            WritePem(files.key, key.get());
            return files;
        };
        agent = issue("agent", "agent", ca_cert.get(), ca_key.get(), -1, 30,
                      "IP:127.0.0.1,IP:::1,DNS:localhost");
        manager = issue("manager", manager_name, ca_cert.get(), ca_key.get(), -1, 30, nullptr);
        stranger =
            issue("stranger", manager_name, other_ca.get(), other_ca_key.get(), -1, 30, nullptr);
        expired = issue("expired", manager_name, ca_cert.get(), ca_key.get(), -10, -1, nullptr);
        elsewhere = issue("elsewhere", "agent", ca_cert.get(), ca_key.get(), -1, 30,
                          "DNS:agent.example.org");
    }
};

}  // namespace halvorin::test
