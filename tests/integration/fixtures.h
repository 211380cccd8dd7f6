// Real servers for the integration tests, started on loopback in temporary
// directories and torn down with the fixture: an aiosmtpd sink, dovecot's
// POP3 and IMAP servers and dante as SOCKS proxy.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "peers.h"
#include "script_server.h"
#include "test_files.h"

namespace fixtures {

namespace fs = std::filesystem;

inline std::string TempDir(const char *tag) {
    std::string t = std::string("/tmp/kv-") + tag + "-XXXXXX";
    if (!mkdtemp(&t[0])) return std::string();
    chmod(t.c_str(), 0755);
    return t;
}

inline uint16_t FreePort() { return testsupport::ClosedPort(); }

inline bool WaitForPort(uint16_t port) {
    sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    for (int i = 0; i < 200; ++i) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

using testsupport::ReadFile;

// A server's temporary directory, removed after the server (a member of the derived class) has stopped.
struct Scratch {
    explicit Scratch(const char *tag) : dir_(TempDir(tag)) {}
    ~Scratch() {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    std::string dir_;
};

// A server run through the shell, its output going to DIR/first: it prints
// its ports on the first line and runs until its input is closed.
class Server {
  public:
    Server() = default;
    Server(const Server &) = delete;
    ~Server() {
        if (input_) pclose(input_);
    }
    // The first line; "" when none came within 30 s.
    std::string Start(const std::vector<std::string> &argv, const std::string &dir) {
        std::string command = "exec";
        for (const std::string &a : argv) command += " '" + a + "'";
        input_ = popen((command + " >'" + dir + "/first'").c_str(), "w");
        for (int i = 0; input_ && i < 600; ++i) {
            std::string out = ReadFile(dir + "/first");
            if (size_t end = out.find('\n'); end != std::string::npos) return out.substr(0, end);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::string();
    }

  private:
    FILE *input_ = nullptr;
};

// A throw-away CA and server certificates "good", "wrong" and "expired" (servers/pki.sh).
class TestPki : Scratch {
  public:
    TestPki() : Scratch("pki") {}
    static bool Available() { return testsupport::Executable("/usr/bin/openssl"); }
    bool Make() {
        return !dir_.empty() &&
               std::system(("/bin/sh " KV_SERVERS_DIR "/pki.sh " + dir_ + " >/dev/null 2>&1").c_str()) == 0;
    }
    std::string CaFile() const { return dir_ + "/ca.pem"; }
    std::string Cert(const std::string &name) const { return dir_ + "/" + name + ".pem"; }
    std::string Key(const std::string &name) const { return dir_ + "/" + name + ".key"; }
};

// aiosmtpd storing every message; user and password enable AUTH. `extra`
// passes "--tls starttls|implicit CERT KEY" or "--token TOKEN".
class SmtpSink : Scratch {
  public:
    SmtpSink() : Scratch("smtp") {}
    bool Start(const std::string &user = "", const std::string &password = "",
               const std::vector<std::string> &extra = {}) {
        std::vector<std::string> argv = {"/usr/bin/python3", KV_SERVERS_DIR "/smtp_sink.py", dir_};
        if (!user.empty()) argv.push_back(user), argv.push_back(password);
        argv.insert(argv.end(), extra.begin(), extra.end());
        port_ = uint16_t(std::atoi(server_.Start(argv, dir_).c_str()));
        return port_ != 0 && WaitForPort(port_);
    }
    uint16_t Port() const { return port_; }
    std::string Message(int n) const { return ReadFile(dir_ + "/" + std::to_string(n) + ".eml"); }
    std::string Envelope(int n) const { return ReadFile(dir_ + "/" + std::to_string(n) + ".env"); }
    // The mechanism of the last successful AUTH, "" when none.
    std::string AuthMechanism() const { return ReadFile(dir_ + "/auth"); }

  private:
    Server server_;
    uint16_t port_ = 0;
};

// dovecot's POP3 server, and with `imap` its IMAP server, over a maildir the
// test fills (servers/dovecot.sh). With a certificate: STLS on Port() and TLS
// from the first byte on TlsPort() (IMAP: ImapPort(), ImapTlsPort()).
class Dovecot : Scratch {
  public:
    Dovecot() : Scratch("pop3") {}
    static bool Available() { return testsupport::Executable("/usr/sbin/dovecot"); }
    static bool ImapAvailable() { return Available() && testsupport::Executable("/usr/lib/dovecot/imap"); }
    bool Start(const std::string &user, const std::string &password, bool apop, const std::string &cert = "",
               const std::string &key = "") {
        std::vector<std::string> argv = {"/bin/bash", KV_SERVERS_DIR "/dovecot.sh", dir_, user, password,
                                         "--mechanisms", mechanisms};
        if (imap) argv.push_back("--imap");
        if (apop) argv.push_back("--apop");
        if (!cert.empty()) argv.insert(argv.end(), {"--tls", cert, key});
        return std::sscanf(server_.Start(argv, dir_).c_str(), "%hu %hu %hu %hu %u %u", &port_, &tlsPort_, &imapPort_,
                           &imapTlsPort_, &mailUid_, &mailGid_) == 6;
    }
    // Places a message in the user's maildir (new/), as delivered mail.
    void Deliver(const std::string &user, const std::string &name, const std::string &text) {
        std::string box = dir_ + "/mail/" + user;
        for (const char *d : {"/new", "/cur", "/tmp"}) fs::create_directories(box + d);
        std::ofstream(box + "/new/" + name, std::ios::binary) << text;
        for (const std::string &p : {dir_ + "/mail", dir_ + "/home"}) {
            if (chown(p.c_str(), mailUid_, mailGid_) != 0) continue;
            for (const auto &e : fs::recursive_directory_iterator(p))
                if (chown(e.path().c_str(), mailUid_, mailGid_) != 0) break;
        }
    }
    // The messages in the user's INBOX.
    size_t MessagesLeft(const std::string &user) {
        size_t n = 0;
        for (const char *d : {"/new", "/cur"})
            for (const auto &e : fs::directory_iterator(dir_ + "/mail/" + user + d)) n += e.is_regular_file();
        return n;
    }
    std::string Log() const { return ReadFile(dir_ + "/dovecot.log"); }
    uint16_t Port() const { return port_; }
    uint16_t TlsPort() const { return tlsPort_; }
    uint16_t ImapPort() const { return imapPort_; }
    uint16_t ImapTlsPort() const { return imapTlsPort_; }
    // Set before Start: IMAP as well as POP3, and the SASL mechanisms offered.
    bool imap = false;
    std::string mechanisms = "plain";

  private:
    Server server_;
    uint16_t port_ = 0, tlsPort_ = 0, imapPort_ = 0, imapTlsPort_ = 0;
    unsigned mailUid_ = 0, mailGid_ = 0;
};

// dante as a SOCKS 4 and 5 proxy, without authentication or with a system user.
class Dante : Scratch {
  public:
    Dante() : Scratch("socks") {}
    static bool Available() { return testsupport::Executable("/usr/sbin/danted"); }
    bool Start(bool requireUser) {
        port_ = FreePort();
        std::ofstream conf(dir_ + "/danted.conf");
        conf << "logoutput: " << dir_ << "/danted.log\n"
             << "internal: 127.0.0.1 port = " << port_ << "\n"
             << "external: 127.0.0.1\n"
             << "clientmethod: none\n"
             << "socksmethod: " << (requireUser ? "username" : "none") << "\n"
             << "user.privileged: root\n"
             << "user.unprivileged: nobody\n"
             << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
             << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n";
        conf.close();
        // danted does not read its input: the shell ends it once the input is closed.
        return server_.Start({"/bin/sh", "-c", "/usr/sbin/danted -f \"$0\" -N 1 & echo up; cat >/dev/null; kill $!; wait",
                              dir_ + "/danted.conf"}, dir_) == "up" &&
               WaitForPort(port_);
    }
    uint16_t Port() const { return port_; }
    std::string Log() const { return ReadFile(dir_ + "/danted.log"); }

  private:
    Server server_;
    uint16_t port_ = 0;
};

} // namespace fixtures
