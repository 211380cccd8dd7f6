// The TLS back-end on Windows: Schannel through SSPI, its records moved over
// the caller's stream so a live connection can be upgraded. The certificate
// is checked here rather than by Schannel, so refusals name the same reasons
// as on POSIX and "TLSCAFile" can say which roots are trusted.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#define SECURITY_WIN32
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "pal/codepage.h"
#include "pal/system.h"
#include "pal/tls.h"

namespace kv::pal {

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// A handshake message or record the peer keeps growing beyond this is not a sound peer.
constexpr size_t kMaxBuffered = size_t(1) << 20;
constexpr size_t kReadChunk = 64 * 1024;
// Several records per send: fewer system calls for large transfers.
constexpr size_t kSendBatch = 64 * 1024;
// The SSL policy's fdwChecks bits (wininet.h values, not in the SSPI headers).
constexpr DWORD kIgnoreRevocation = 0x00000080, kIgnoreUnknownCa = 0x00000100, kIgnoreNameMismatch = 0x00001000,
                kIgnoreDateInvalid = 0x00002000;
// A CA bundle larger than this is not a CA bundle.
constexpr size_t kMaxCaFile = size_t(16) << 20;

std::string StatusText(SECURITY_STATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(status)));
    std::string text = SystemMessageText(int32_t(status));
    return text.empty() ? std::string("SSPI error ") + code : text + " (" + code + ")";
}

// An address literal as its bytes (4 or 16); empty for a name.
std::string AddressBytes(const std::string &host) {
    unsigned char buffer[16];
    if (inet_pton(AF_INET, host.c_str(), buffer) == 1) return std::string(reinterpret_cast<char *>(buffer), 4);
    std::string bare = host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2)
                                                                                      : host;
    if (inet_pton(AF_INET6, bare.c_str(), buffer) == 1) return std::string(reinterpret_cast<char *>(buffer), 16);
    return std::string();
}

// Whether the certificate names the address among its subject alternative names.
bool CertificateNamesAddress(PCCERT_CONTEXT cert, const std::string &address) {
    PCERT_EXTENSION ext = CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                            cert->pCertInfo->rgExtension);
    if (!ext) return false;
    CERT_ALT_NAME_INFO *names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY &entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
                std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    LocalFree(names);
    return found;
}

bool StoreHolds(HCERTSTORE store, PCCERT_CONTEXT cert) {
    PCCERT_CONTEXT it = nullptr;
    while ((it = CertEnumCertificatesInStore(store, it)) != nullptr) {
        if (it->cbCertEncoded == cert->cbCertEncoded &&
            std::memcmp(it->pbCertEncoded, cert->pbCertEncoded, cert->cbCertEncoded) == 0) {
            CertFreeCertificateContext(it);
            return true;
        }
    }
    return false;
}

// What a chain element's own trust errors mean; None when it has none we judge here.
TlsCertProblem TimeProblem(const CERT_CHAIN_ELEMENT *element) {
    if (!(element->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID)) return TlsCertProblem::None;
    return CertVerifyTimeValidity(nullptr, element->pCertContext->pCertInfo) < 0 ? TlsCertProblem::NotYetValid
                                                                               : TlsCertProblem::Expired;
}

class SchannelSession final : public TlsSession {
  public:
    SchannelSession(TlsStream &stream, const TlsOptions &options) : stream_(stream), options_(options) {
        SecInvalidateHandle(&credentials_);
        SecInvalidateHandle(&context_);
    }
    ~SchannelSession() override {
        if (haveContext_) DeleteSecurityContext(&context_);
        if (haveCredentials_) FreeCredentialsHandle(&credentials_);
        if (caStore_) CertCloseStore(caStore_, 0);
    }

    bool Handshake() override {
        if (established_) return true;
        if (fatal_) return false;
        if (!SetUp()) return false;
        if (!Negotiate(true)) return false;
        if (!AfterNegotiation()) return false;
        established_ = true;
        return true;
    }

    long Send(const void *data, size_t length) override {
        if (!established_ || fatal_) return Refuse();
        const char *p = static_cast<const char *>(data);
        size_t left = length;
        const size_t header = sizes_.cbHeader, trailer = sizes_.cbTrailer, most = sizes_.cbMaximumMessage;
        while (left > 0) {
            out_.clear();
            while (left > 0 && out_.size() < kSendBatch) {
                size_t chunk = std::min(left, most);
                size_t at = out_.size();
                out_.resize(at + header + chunk + trailer);
                std::memcpy(&out_[at + header], p, chunk);
                SecBuffer buffers[4] = {{ULONG(header), SECBUFFER_STREAM_HEADER, &out_[at]},
                                        {ULONG(chunk), SECBUFFER_DATA, &out_[at + header]},
                                        {ULONG(trailer), SECBUFFER_STREAM_TRAILER, &out_[at + header + chunk]},
                                        {0, SECBUFFER_EMPTY, nullptr}};
                SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
                SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
                if (status != SEC_E_OK) {
                    Fail(status == SEC_E_CONTEXT_EXPIRED ? TlsFailure::Closed : TlsFailure::Protocol,
                         StatusText(status));
                    return -1;
                }
                // The trailer may come out shorter than its room.
                out_.resize(at + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
                p += chunk;
                left -= chunk;
            }
            if (!SendAll(out_.data(), out_.size())) return -1;
        }
        return long(length);
    }

    long Receive(void *buffer, size_t capacity) override {
        if (!established_ || fatal_) return Refuse();
        if (capacity == 0) return 0;
        while (plainAt_ == plain_.size()) {
            if (peerClosed_) return 0;
            plain_.clear();
            plainAt_ = 0;
            if (!Decrypt()) return -1;
        }
        size_t n = std::min(capacity, plain_.size() - plainAt_);
        std::memcpy(buffer, plain_.data() + plainAt_, n);
        plainAt_ += n;
        return long(n);
    }

    void Close() override {
        if (established_ && !fatal_ && !peerClosed_) {
            DWORD type = SCHANNEL_SHUTDOWN;
            SecBuffer control = {sizeof type, SECBUFFER_TOKEN, &type};
            SecBufferDesc controlDesc = {SECBUFFER_VERSION, 1, &control};
            if (ApplyControlToken(&context_, &controlDesc) == SEC_E_OK) {
                SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
                SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
                ULONG attributes = 0;
                SECURITY_STATUS status = InitializeSecurityContextW(&credentials_, &context_, TargetName(),
                                                                    kContextFlags, 0, 0, nullptr, 0, nullptr,
                                                                    &outDesc, &attributes, nullptr);
                if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) && out.pvBuffer && out.cbBuffer)
                    SendAll(out.pvBuffer, out.cbBuffer);
                if (out.pvBuffer) FreeContextBuffer(out.pvBuffer);
            }
        }
        fatal_ = true;
    }

    const TlsError &Error() const override { return error_; }

    std::string Description() const override { return description_; }

  private:
    SEC_WCHAR *TargetName() {
        // SNI carries names only.
        return wideHost_.empty() ? nullptr : reinterpret_cast<SEC_WCHAR *>(&wideHost_[0]);
    }

    bool SetUp() {
        if (haveCredentials_) return true;
        address_ = AddressBytes(options_.host);
        if (address_.empty()) wideHost_ = ToWide(options_.host, 0);
        if (options_.verify && !options_.caFile.empty() && !LoadCaFile()) return false;
        TimeStamp expiry;
        // SCH_CREDENTIALS lets the system offer TLS 1.3; systems that predate it take SCHANNEL_CRED.
        SCH_CREDENTIALS modern = {};
        modern.dwVersion = SCH_CREDENTIALS_VERSION;
        modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        SECURITY_STATUS status =
            AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR *>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                      &modern, nullptr, nullptr, &credentials_, &expiry);
        if (status != SEC_E_OK) {
            SCHANNEL_CRED legacy = {};
            legacy.dwVersion = SCHANNEL_CRED_VERSION;
            legacy.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
            status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR *>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                               nullptr, &legacy, nullptr, nullptr, &credentials_, &expiry);
        }
        if (status != SEC_E_OK) return SetupFailed("no TLS credentials (" + StatusText(status) + ")");
        haveCredentials_ = true;
        in_.resize(kReadChunk);
        return true;
    }

    bool SetupFailed(const std::string &what) {
        Fail(TlsFailure::Setup, what);
        return false;
    }

    // The PEM bundle into a store of its own: only its certificates anchor chains then.
    bool LoadCaFile() {
        const std::string cannotRead = "the CA file '" + options_.caFile + "' could not be read";
        FileHandle file = FileOpen(options_.caFile, false);
        if (file == kInvalidFile) return SetupFailed(cannotRead);
        std::string text;
        char chunk[16384];
        int64_t n = 0;
        while ((n = FileRead(file, chunk, sizeof chunk)) > 0 && text.size() <= kMaxCaFile) text.append(chunk, size_t(n));
        FileClose(file);
        if (n < 0) return SetupFailed(cannotRead);
        if (text.size() > kMaxCaFile) return SetupFailed(cannotRead + " (too large for a CA file)");
        caStore_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
        if (!caStore_) return SetupFailed(cannotRead + " (no certificate store)");
        static const char kBegin[] = "-----BEGIN CERTIFICATE-----", kEnd[] = "-----END CERTIFICATE-----";
        size_t count = 0;
        for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
            size_t end = text.find(kEnd, at);
            if (end == std::string::npos) return SetupFailed(cannotRead + " (a certificate in it is cut short)");
            end += sizeof kEnd - 1;
            DWORD size = 0;
            std::vector<BYTE> der;
            bool ok = CryptStringToBinaryA(text.data() + at, DWORD(end - at), CRYPT_STRING_BASE64HEADER, nullptr,
                                           &size, nullptr, nullptr) &&
                      size > 0;
            if (ok) {
                der.resize(size);
                ok = CryptStringToBinaryA(text.data() + at, DWORD(end - at), CRYPT_STRING_BASE64HEADER, der.data(),
                                          &size, nullptr, nullptr) &&
                     CertAddEncodedCertificateToStore(caStore_, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_USE_EXISTING, nullptr);
            }
            if (!ok) return SetupFailed(cannotRead + " (a certificate in it is damaged)");
            ++count;
            at = end;
        }
        if (count == 0) return SetupFailed(cannotRead + " (no certificate in it)");
        return true;
    }

    // The handshake, first or renegotiated; ciphertext already read waits in in_.
    bool Negotiate(bool first) {
        bool read = false;
        if (first) {
            SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            SECURITY_STATUS status = InitializeSecurityContextW(&credentials_, nullptr, TargetName(), kContextFlags, 0,
                                                                0, nullptr, 0, &context_, &outDesc, &attributes,
                                                                nullptr);
            if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) haveContext_ = true;
            bool sent = status != SEC_I_CONTINUE_NEEDED || !out.pvBuffer || SendAll(out.pvBuffer, out.cbBuffer);
            if (out.pvBuffer) FreeContextBuffer(out.pvBuffer);
            if (status != SEC_I_CONTINUE_NEEDED) return SetupFailed("the handshake could not start (" + StatusText(status) + ")");
            if (!sent) return false;
            read = true;
        }
        bool retriedCredentials = false;
        for (;;) {
            if (read) {
                if (!ReadMore()) return false;
                if (first && !LooksLikeTls()) {
                    Fail(TlsFailure::NotTls, "the answer is not a TLS record");
                    return false;
                }
            }
            read = false;
            SecBuffer in[2] = {{ULONG(inLength_), SECBUFFER_TOKEN, inLength_ ? in_.data() : nullptr},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
            SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
            SecBufferDesc outDesc = {SECBUFFER_VERSION, 2, out};
            ULONG attributes = 0;
            DWORD flags = kContextFlags | (retriedCredentials ? ISC_REQ_USE_SUPPLIED_CREDS : 0);
            SECURITY_STATUS status = InitializeSecurityContextW(&credentials_, &context_, TargetName(), flags, 0, 0,
                                                                &inDesc, 0, nullptr, &outDesc, &attributes, nullptr);
            // A token goes out even with a failure: it is the alert telling the server why.
            bool sent = true;
            if (status != SEC_E_INCOMPLETE_MESSAGE && out[0].pvBuffer && out[0].cbBuffer)
                sent = SendAll(out[0].pvBuffer, out[0].cbBuffer);
            for (SecBuffer &b : out)
                if (b.pvBuffer) FreeContextBuffer(b.pvBuffer);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                read = true;
                continue;
            }
            if (!sent) return false;
            if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
                // The server asks for a client certificate; go on without one, once.
                if (retriedCredentials) {
                    Fail(TlsFailure::Protocol, "the server insists on a client certificate");
                    return false;
                }
                retriedCredentials = true;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
                Fail(TlsFailure::Protocol, StatusText(status));
                return false;
            }
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= inLength_) {
                std::memmove(in_.data(), in_.data() + inLength_ - in[1].cbBuffer, in[1].cbBuffer);
                inLength_ = in[1].cbBuffer;
            } else {
                inLength_ = 0;
            }
            if (status == SEC_E_OK) return true;
            read = inLength_ == 0;
        }
    }

    // A TLS record begins with a known content type and major version 3.
    bool LooksLikeTls() const {
        if (inLength_ < 1) return true;
        unsigned char type = static_cast<unsigned char>(in_[0]);
        if (type < 20 || type > 24) return false;
        return inLength_ < 2 || static_cast<unsigned char>(in_[1]) == 3;
    }

    bool AfterNegotiation() {
        SECURITY_STATUS status = QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (status != SEC_E_OK || sizes_.cbMaximumMessage == 0) {
            Fail(TlsFailure::Protocol, "no record sizes (" + StatusText(status) + ")");
            return false;
        }
        size_t record = size_t(sizes_.cbHeader) + sizes_.cbMaximumMessage + sizes_.cbTrailer;
        if (in_.size() < record + kReadChunk) in_.resize(record + kReadChunk);
        if (options_.verify && !VerifyPeer()) return false;
        Describe();
        return true;
    }

    void Describe() {
        SecPkgContext_ConnectionInfo info = {};
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) return;
        const DWORD p = info.dwProtocol;
        description_ = (p & SP_PROT_TLS1_3_CLIENT)   ? "TLSv1.3"
                       : (p & SP_PROT_TLS1_2_CLIENT) ? "TLSv1.2"
                       : (p & SP_PROT_TLS1_1_CLIENT) ? "TLSv1.1"
                       : (p & SP_PROT_TLS1_0_CLIENT) ? "TLSv1"
                                                     : "TLS";
        SecPkgContext_CipherInfo cipher = {};
        cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK && cipher.szCipherSuite[0]) {
            description_ += ' ';
            for (const WCHAR *c = cipher.szCipherSuite; *c && c < cipher.szCipherSuite + SZ_ALG_MAX_SIZE; ++c)
                description_ += *c < 0x80 ? char(*c) : '?';
        }
    }

    bool Refused(TlsCertProblem problem, const std::string &detail) {
        Fail(TlsFailure::Certificate, detail);
        error_.certificate = problem;
        return false;
    }

    // Chain and name, judged in the order the other back-end reports them:
    // issuer, host name, validity period, revocation, anything else.
    bool VerifyPeer() {
        PCCERT_CONTEXT cert = nullptr;
        SECURITY_STATUS status = QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
        if (status != SEC_E_OK || !cert) return Refused(TlsCertProblem::Other, "the server sent no certificate");
        HCERTSTORE extra = cert->hCertStore;
        HCERTSTORE collection = nullptr;
        if (caStore_) {
            collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
            if (collection) {
                CertAddStoreToCollection(collection, cert->hCertStore, 0, 0);
                CertAddStoreToCollection(collection, caStore_, 0, 0);
                extra = collection;
            }
        }
        static const LPSTR kServerAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = const_cast<LPSTR *>(kServerAuth);
        // Nothing fetched from the network while the server waits; no revocation lists either, as on POSIX.
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        bool built = CertGetCertificateChain(nullptr, cert, nullptr, extra, &para, CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL,
                                             nullptr, &chain) &&
                     chain && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0;
        bool ok = built ? Judge(cert, chain) : Refused(TlsCertProblem::Other, "the certificate chain could not be built");
        if (chain) CertFreeCertificateChain(chain);
        if (collection) CertCloseStore(collection, 0);
        CertFreeCertificateContext(cert);
        return ok;
    }

    bool Judge(PCCERT_CONTEXT cert, PCCERT_CHAIN_CONTEXT chain) {
        const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
        DWORD errors = simple->TrustStatus.dwErrorStatus &
                       ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                         CERT_TRUST_IS_OFFLINE_REVOCATION);
        const DWORD untrusted = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
        bool ownAnchor = false;
        if (caStore_) {
            // With a CA file its certificates are the only anchors.
            ownAnchor = StoreHolds(caStore_, simple->rgpElement[simple->cElement - 1]->pCertContext);
            if (!ownAnchor) return Refused(TlsCertProblem::UnknownIssuer, "the issuer is not in the CA file");
            errors &= ~untrusted;
        }
        if (errors & untrusted) return Refused(TlsCertProblem::UnknownIssuer, "unable to get local issuer certificate");

        if (!address_.empty()) {
            if (!CertificateNamesAddress(cert, address_)) return Refused(TlsCertProblem::WrongHost, "IP address mismatch");
        }
        // The system's SSL policy for the name; what it would say about the rest is judged here.
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = kIgnoreUnknownCa | kIgnoreDateInvalid | kIgnoreRevocation |
                        (address_.empty() ? 0 : kIgnoreNameMismatch);
        ssl.pwszServerName = address_.empty() ? TargetName() : nullptr;
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof policy;
        policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG | CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS |
                         CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS verdict = {};
        verdict.cbSize = sizeof verdict;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict))
            return Refused(TlsCertProblem::Other, "the certificate policy could not be checked");
        if (verdict.dwError == DWORD(CERT_E_CN_NO_MATCH))
            return Refused(TlsCertProblem::WrongHost, "hostname mismatch");

        for (DWORD i = 0; i < simple->cElement; ++i) {
            TlsCertProblem time = TimeProblem(simple->rgpElement[i]);
            if (time == TlsCertProblem::Expired) return Refused(time, "certificate has expired");
            if (time == TlsCertProblem::NotYetValid) return Refused(time, "certificate is not yet valid");
        }
        if (errors & CERT_TRUST_IS_REVOKED) return Refused(TlsCertProblem::Revoked, "certificate revoked");
        if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
            return Refused(TlsCertProblem::Other, "certificate signature failure");
        if (errors & (CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE))
            return Refused(TlsCertProblem::Other, "unsupported certificate purpose");
        if (errors & ~CERT_TRUST_IS_NOT_TIME_VALID) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(errors));
            return Refused(TlsCertProblem::Other, std::string("certificate chain error ") + code);
        }
        if (verdict.dwError != 0) return Refused(TlsCertProblem::Other, StatusText(SECURITY_STATUS(verdict.dwError)));
        return true;
    }

    // One more batch of records into in_; false (with the reason) when none came.
    bool ReadMore() {
        if (inLength_ == in_.size()) {
            if (in_.size() >= kMaxBuffered) {
                Fail(TlsFailure::Protocol, "a TLS record is larger than any peer may send");
                return false;
            }
            in_.resize(std::min(in_.size() * 2, kMaxBuffered));
        }
        long n = stream_.Receive(in_.data() + inLength_, in_.size() - inLength_);
        if (n < 0) {
            Fail(TlsFailure::Stream, std::string());
            return false;
        }
        if (n == 0) {
            Fail(TlsFailure::Closed, "unexpected eof while reading");
            return false;
        }
        inLength_ += size_t(n);
        return true;
    }

    // Decrypts one record into plain_ (possibly nothing); false on failure.
    bool Decrypt() {
        if (inLength_ == 0 && !ReadMore()) return false;
        SecBuffer buffers[4] = {{ULONG(inLength_), SECBUFFER_DATA, in_.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        // An alert record in the clear (up to TLS 1.2); in_ starts at a record.
        const bool alert = static_cast<unsigned char>(in_[0]) == 21;
        SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return ReadMore();
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
            Fail(TlsFailure::Protocol, StatusText(status));
            return false;
        }
        // The plaintext lies inside in_: keep it before the extra bytes move to the front.
        const SecBuffer *extra = nullptr;
        bool data = false;
        for (const SecBuffer &b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer && b.pvBuffer) {
                const char *at = static_cast<const char *>(b.pvBuffer);
                plain_.insert(plain_.end(), at, at + b.cbBuffer);
                data = true;
            } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer) {
                extra = &b;
            }
        }
        if (extra && extra->cbBuffer <= inLength_) {
            size_t keep = extra->cbBuffer;
            std::memmove(in_.data(), in_.data() + inLength_ - keep, keep);
            inLength_ = keep;
        } else {
            inLength_ = 0;
        }
        // The peer's close_notify: the end of its data. Wine's Schannel reports
        // it as an alert record that decrypted to nothing.
        if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && !data)) {
            peerClosed_ = true;
            return true;
        }
        if (status == SEC_I_RENEGOTIATE) {
            // A new handshake, or a TLS 1.3 post-handshake message: the negotiation takes the bytes.
            // A renegotiation may bring other record sizes and another
            // certificate: both are taken as after the first handshake.
            return Negotiate(false) && AfterNegotiation();
        }
        return true;
    }

    bool SendAll(const void *data, size_t length) {
        const char *p = static_cast<const char *>(data);
        while (length > 0) {
            long n = stream_.Send(p, length);
            if (n <= 0) {
                Fail(TlsFailure::Stream, std::string());
                return false;
            }
            p += n;
            length -= size_t(n);
        }
        return true;
    }

    void Fail(TlsFailure failure, const std::string &detail) {
        fatal_ = true;
        error_.failure = failure;
        error_.certificate = TlsCertProblem::None;
        error_.detail = detail;
    }

    long Refuse() {
        if (error_.failure == TlsFailure::None) {
            error_.failure = TlsFailure::Protocol;
            error_.detail = "the TLS session is not open";
        }
        return -1;
    }

    TlsStream &stream_;
    TlsOptions options_;
    std::u16string wideHost_;
    std::string address_;
    CredHandle credentials_;
    CtxtHandle context_;
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    HCERTSTORE caStore_ = nullptr;
    SecPkgContext_StreamSizes sizes_ = {};
    std::vector<char> in_; // ciphertext read and not yet used
    size_t inLength_ = 0;
    std::vector<char> plain_;
    size_t plainAt_ = 0;
    std::vector<char> out_;
    bool established_ = false;
    bool fatal_ = false;
    bool peerClosed_ = false;
    std::string description_;
    TlsError error_;
};

} // namespace

std::unique_ptr<TlsSession> CreateTlsSession(TlsStream &stream, const TlsOptions &options) {
    return std::unique_ptr<TlsSession>(new (std::nothrow) SchannelSession(stream, options));
}

} // namespace kv::pal
