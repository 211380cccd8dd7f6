// The TLS seam (pal/tls.h) against tls_peer.py, which shapes records and TCP
// segments as servers may: the same cases hold for Schannel (under Wine) and
// OpenSSL. run.sh starts the peer: KV_TLS_PEER_PORT, and KV_TLS_DIR with the
// test CA (ca.pem) that issued the peer's certificate for "localhost".
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../../support/test_files.h"
#include "pal/socket.h"
#include "pal/tls.h"

namespace {

using namespace kv::pal;
using testsupport::Env;

// The plain connection below the session.
class Connection final : public TlsStream {
  public:
    long Send(const void *data, size_t length) override { return socket_.Send(data, length); }
    long Receive(void *buffer, size_t capacity) override { return socket_.Receive(buffer, capacity); }
    TcpSocket socket_;
};

class TlsSessionContract : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Env("KV_TLS_PEER_PORT").empty()) << "KV_TLS_PEER_PORT is not set: run through run.sh";
        ASSERT_TRUE(SocketStartup());
    }
    void TearDown() override { SocketCleanup(); }
    // A session over the connection, opened with the scenario line in clear.
    std::unique_ptr<TlsSession> Open(Connection &connection, const std::string &scenario, uint32_t timeoutMs = 10000,
                                     const std::string &host = "localhost") {
        std::vector<SocketAddress> at;
        TcpSocket &s = connection.socket_;
        const std::string line = "SCENARIO " + scenario + "\n";
        EXPECT_TRUE(ResolveAll("127.0.0.1", uint16_t(std::atoi(Env("KV_TLS_PEER_PORT").c_str())), at) && !at.empty() &&
                    s.Create(at[0]) && s.SetTimeouts(timeoutMs) && s.Connect(at[0]) &&
                    s.Send(line.data(), line.size()) == long(line.size()))
            << scenario;
        TlsOptions options;
        options.host = host;
        // Windows takes the forward slash too.
        options.caFile = Env("KV_TLS_DIR") + "/ca.pem";
        return CreateTlsSession(connection, options);
    }
    // Everything until the end (0) or a failure (-1).
    static long ReadToEnd(TlsSession &session, std::string &into, size_t chunk = 5000) {
        std::vector<char> buffer(chunk);
        for (;;) {
            long n = session.Receive(buffer.data(), buffer.size());
            if (n <= 0) return n;
            into.append(buffer.data(), size_t(n));
        }
    }
};

// Bytes without a short period (the peer's for "trickle" too).
std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = char(i * 13 + i / 251);
    return s;
}

TEST_F(TlsSessionContract, DataComesBackWholeAndEndsAtCloseNotify) {
    struct Case {
        const char *scenario;
        std::string sent, expected; // the peer echoes what it is sent
        size_t chunk;
    } cases[] = {
        // 1 MiB in records of varying sizes; odd read sizes, so records end
        // inside reads and reads end inside records.
        {"echo", Pattern(1048583), Pattern(1048583), 7001},
        // Records arriving in pieces, the first byte by byte.
        {"trickle", "", Pattern(3000), 5000},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.scenario);
        Connection connection;
        auto session = Open(connection, t.scenario);
        ASSERT_TRUE(session);
        ASSERT_TRUE(session->Handshake()) << session->Error().detail;
        EXPECT_EQ(session->Description().rfind("TLSv1.", 0), 0u) << session->Description();
        if (!t.sent.empty()) {
            ASSERT_EQ(session->Send(t.sent.data(), t.sent.size()), long(t.sent.size())) << session->Error().detail;
        }
        std::string got;
        EXPECT_EQ(ReadToEnd(*session, got, t.chunk), 0) << session->Error().detail;
        EXPECT_TRUE(got == t.expected) << "got " << got.size() << " of " << t.expected.size() << " bytes";
        char c;
        EXPECT_EQ(session->Receive(&c, 1), 0) << "the end stays the end";
        EXPECT_EQ(session->Error().failure, TlsFailure::None);
    }
}

TEST_F(TlsSessionContract, FailuresAreClassifiedAndFinal) {
    struct Case {
        const char *scenario;
        bool handshake;       // whether the handshake succeeds
        const char *received; // what arrives before the failure
        TlsFailure failure;
        TlsCertProblem certificate;
        uint32_t timeoutMs;
        const char *host;
    } cases[] = {
        {"drop", true, "partial", TlsFailure::Closed, TlsCertProblem::None, 10000, "localhost"},
        {"corrupt", true, "", TlsFailure::Protocol, TlsCertProblem::None, 10000, "localhost"},
        {"plain", false, "", TlsFailure::NotTls, TlsCertProblem::None, 10000, "localhost"},
        // A server that never answers ends at the socket timeout, not never.
        {"silent", false, "", TlsFailure::Stream, TlsCertProblem::None, 500, "localhost"},
        {"echo", false, "", TlsFailure::Certificate, TlsCertProblem::WrongHost, 10000, "other.example"},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.scenario);
        Connection connection;
        auto session = Open(connection, t.scenario, t.timeoutMs, t.host);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->Handshake(), t.handshake) << session->Error().detail;
        if (t.handshake) {
            std::string got;
            EXPECT_EQ(ReadToEnd(*session, got), -1);
            EXPECT_EQ(got, t.received);
        }
        EXPECT_EQ(session->Error().failure, t.failure) << session->Error().detail;
        EXPECT_EQ(session->Error().certificate, t.certificate);
        // Nothing more goes over a failed session, and the reason stays.
        char c = 'x';
        EXPECT_EQ(session->Send(&c, 1), -1);
        EXPECT_EQ(session->Receive(&c, 1), -1);
        EXPECT_EQ(session->Error().failure, t.failure);
        session->Close();
    }
}

TEST_F(TlsSessionContract, CloseSendsCloseNotifyAndEndsTheSession) {
    Connection connection;
    auto session = Open(connection, "close", 5000);
    ASSERT_TRUE(session);
    char c = 'x';
    EXPECT_EQ(session->Send(&c, 1), -1) << "before the handshake";
    ASSERT_TRUE(session->Handshake()) << session->Error().detail;
    session->Close();
    EXPECT_EQ(session->Send(&c, 1), -1);
    EXPECT_EQ(session->Receive(&c, 1), -1);
    // The peer closes only once it has our close_notify; without it this read times out (-1).
    long n = 1;
    for (char buffer[4096]; n > 0;) n = connection.socket_.Receive(buffer, sizeof buffer);
    EXPECT_EQ(n, 0);
}

} // namespace
