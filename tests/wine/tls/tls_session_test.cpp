// The TLS seam (pal/tls.h) against tls_peer.py, which shapes records and TCP
// segments as servers may: the same cases hold for Schannel (under Wine) and
// OpenSSL. run.sh starts the peer: KV_TLS_PEER_PORT, and KV_TLS_DIR with the
// test CA (ca.pem) that issued the peer's certificate for "localhost".
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pal/socket.h"
#include "pal/tls.h"

namespace {

using namespace kv::pal;

std::string Env(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::string Separator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
}

// The plain connection below the session, opened with a scenario line in clear.
class Connection final : public TlsStream {
  public:
    bool Open(const std::string &scenario, uint32_t timeoutMs) {
        std::vector<SocketAddress> addresses;
        uint16_t port = uint16_t(std::atoi(Env("KV_TLS_PEER_PORT").c_str()));
        if (!ResolveAll("127.0.0.1", port, addresses) || addresses.empty()) return false;
        if (!socket_.Create(addresses[0]) || !socket_.SetTimeouts(timeoutMs) || !socket_.Connect(addresses[0]))
            return false;
        std::string line = "SCENARIO " + scenario + "\n";
        return socket_.Send(line.data(), line.size()) == long(line.size());
    }
    long Send(const void *data, size_t length) override { return socket_.Send(data, length); }
    long Receive(void *buffer, size_t capacity) override { return socket_.Receive(buffer, capacity); }
    // Reads below the session until the peer closes (0) or the timeout (-1).
    long DrainRaw() {
        char buffer[4096];
        long n;
        while ((n = socket_.Receive(buffer, sizeof buffer)) > 0) {
        }
        return n;
    }

  private:
    TcpSocket socket_;
};

class TlsSessionContract : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Env("KV_TLS_PEER_PORT").empty()) << "KV_TLS_PEER_PORT is not set: run through run.sh";
        ASSERT_TRUE(SocketStartup());
    }
    void TearDown() override { SocketCleanup(); }
    std::unique_ptr<TlsSession> Open(Connection &connection, const std::string &scenario, uint32_t timeoutMs = 10000,
                                     const std::string &host = "localhost") {
        EXPECT_TRUE(connection.Open(scenario, timeoutMs)) << scenario;
        TlsOptions options;
        options.host = host;
        options.caFile = Env("KV_TLS_DIR") + Separator() + "ca.pem";
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

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = char(i * 13 + i / 251);
    return s;
}

TEST_F(TlsSessionContract, OneLargeSendComesBackWholeAndEndsAtCloseNotify) {
    Connection connection;
    auto session = Open(connection, "echo");
    ASSERT_TRUE(session);
    ASSERT_TRUE(session->Handshake()) << session->Error().detail;
    EXPECT_EQ(session->Description().rfind("TLSv1.", 0), 0u) << session->Description();
    const std::string sent = Pattern(1048583);
    ASSERT_EQ(session->Send(sent.data(), sent.size()), long(sent.size())) << session->Error().detail;
    std::string got;
    // Odd read sizes: records end inside reads and reads end inside records.
    EXPECT_EQ(ReadToEnd(*session, got, 7001), 0) << session->Error().detail;
    EXPECT_TRUE(got == sent) << "got " << got.size() << " of " << sent.size() << " bytes";
    char c;
    EXPECT_EQ(session->Receive(&c, 1), 0) << "the end stays the end";
    EXPECT_EQ(session->Error().failure, TlsFailure::None);
}

TEST_F(TlsSessionContract, RecordsArrivingInPieces) {
    Connection connection;
    auto session = Open(connection, "trickle");
    ASSERT_TRUE(session);
    ASSERT_TRUE(session->Handshake()) << session->Error().detail;
    std::string got;
    EXPECT_EQ(ReadToEnd(*session, got), 0) << session->Error().detail;
    std::string expected(3000, '\0');
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = char((i * 7 + 3) % 256);
    EXPECT_TRUE(got == expected) << "got " << got.size() << " bytes";
}

TEST_F(TlsSessionContract, FailuresAreClassifiedAndFinal) {
    struct Case {
        const char *scenario;
        bool handshake;       // whether the handshake succeeds
        const char *received; // what arrives before the failure
        TlsFailure failure;
        uint32_t timeoutMs;
    } cases[] = {
        {"drop", true, "partial", TlsFailure::Closed, 10000},
        {"corrupt", true, "", TlsFailure::Protocol, 10000},
        {"plain", false, "", TlsFailure::NotTls, 10000},
        // A server that never answers ends at the socket timeout, not never.
        {"silent", false, "", TlsFailure::Stream, 500},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.scenario);
        Connection connection;
        auto session = Open(connection, t.scenario, t.timeoutMs);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->Handshake(), t.handshake) << session->Error().detail;
        if (t.handshake) {
            std::string got;
            EXPECT_EQ(ReadToEnd(*session, got), -1);
            EXPECT_EQ(got, t.received);
        }
        EXPECT_EQ(session->Error().failure, t.failure) << session->Error().detail;
        EXPECT_EQ(session->Error().certificate, TlsCertProblem::None);
        // Nothing more goes over a failed session, and the reason stays.
        char c = 'x';
        EXPECT_EQ(session->Send(&c, 1), -1);
        EXPECT_EQ(session->Receive(&c, 1), -1);
        EXPECT_EQ(session->Error().failure, t.failure);
        session->Close();
    }
}

TEST_F(TlsSessionContract, ACertificateForAnotherNameIsRefused) {
    Connection connection;
    auto session = Open(connection, "echo", 10000, "other.example");
    ASSERT_TRUE(session);
    EXPECT_FALSE(session->Handshake());
    EXPECT_EQ(session->Error().failure, TlsFailure::Certificate) << session->Error().detail;
    EXPECT_EQ(session->Error().certificate, TlsCertProblem::WrongHost);
}

TEST_F(TlsSessionContract, CloseSendsCloseNotify) {
    Connection connection;
    auto session = Open(connection, "close", 5000);
    ASSERT_TRUE(session);
    ASSERT_TRUE(session->Handshake()) << session->Error().detail;
    session->Close();
    // The peer closes only once it has our close_notify; without it this read times out.
    EXPECT_EQ(connection.DrainRaw(), 0);
}

TEST_F(TlsSessionContract, NothingGoesOverAClosedSession) {
    Connection connection;
    auto session = Open(connection, "echo");
    ASSERT_TRUE(session);
    char c = 'x';
    EXPECT_EQ(session->Send(&c, 1), -1) << "before the handshake";
    ASSERT_TRUE(session->Handshake()) << session->Error().detail;
    session->Close();
    EXPECT_EQ(session->Send(&c, 1), -1);
    EXPECT_EQ(session->Receive(&c, 1), -1);
}

} // namespace
