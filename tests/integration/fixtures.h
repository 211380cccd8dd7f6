// Real servers for the integration tests, started on loopback in temporary
// directories and torn down with the fixture: an aiosmtpd sink, dovecot's
// POP3 and IMAP servers, dante as SOCKS proxy and Postfix.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
using testsupport::ReadFile;

inline std::string TempDir(const char *tag) {
    std::string t = std::string("/tmp/kv-") + tag + "-XXXXXX";
    if (!mkdtemp(&t[0])) return std::string();
    chmod(t.c_str(), 0755);
    return t;
}

// A temporary directory and a server run in it through the shell: the server
// prints its ports on its first line (DIR/first) and runs until its input
// closes; the directory goes after it.
class Served {
  public:
    explicit Served(const char *tag) : dir_(TempDir(tag)) {}
    ~Served() {
        if (input_) pclose(input_);
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    // The first line; "" when none came within 30 s.
    std::string Start(const std::vector<std::string> &argv) {
        std::string command = "exec";
        for (const std::string &a : argv) command += " '" + a + "'";
        input_ = popen((command + " >'" + dir_ + "/first'").c_str(), "w");
        for (int i = 0; input_ && i < 600; ++i) {
            std::string out = ReadFile(dir_ + "/first");
            if (size_t end = out.find('\n'); end != std::string::npos) return out.substr(0, end);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::string();
    }
    std::string dir_;

  private:
    FILE *input_ = nullptr;
};

// A throw-away CA and server certificates "good", "wrong" and "expired" (servers/pki.sh).
class TestPki : Served {
  public:
    TestPki() : Served("pki") {}
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
class SmtpSink : Served {
  public:
    SmtpSink() : Served("smtp") {}
    bool Start(const std::string &user = "", const std::string &password = "",
               const std::vector<std::string> &extra = {}) {
        std::vector<std::string> argv = {"/usr/bin/python3", KV_SERVERS_DIR "/smtp_sink.py", dir_};
        if (!user.empty()) argv.push_back(user), argv.push_back(password);
        argv.insert(argv.end(), extra.begin(), extra.end());
        // Printed once it accepts.
        port = uint16_t(std::atoi(Served::Start(argv).c_str()));
        return port != 0;
    }
    std::string Message(int n) const { return ReadFile(dir_ + "/" + std::to_string(n) + ".eml"); }
    std::string Envelope(int n) const { return ReadFile(dir_ + "/" + std::to_string(n) + ".env"); }
    // The mechanism of the last successful AUTH, "" when none.
    std::string AuthMechanism() const { return ReadFile(dir_ + "/auth"); }
    uint16_t port = 0;
};

// dovecot's POP3 server, and with `imap` its IMAP server, over a maildir the
// test fills (servers/dovecot.sh). With a certificate: STLS on `port` and TLS
// from the first byte on `tlsPort` (IMAP: `imapPort`, `imapTlsPort`).
class Dovecot : Served {
  public:
    Dovecot() : Served("pop3") {}
    static bool ImapAvailable() {
        return testsupport::Executable("/usr/sbin/dovecot") && testsupport::Executable("/usr/lib/dovecot/imap");
    }
    bool Start(const std::string &user, const std::string &password, bool apop, const std::string &cert = "",
               const std::string &key = "") {
        std::vector<std::string> argv = {"/bin/bash", KV_SERVERS_DIR "/dovecot.sh", dir_, user, password,
                                         "--mechanisms", mechanisms};
        if (imap) argv.push_back("--imap");
        if (apop) argv.push_back("--apop");
        if (!cert.empty()) argv.insert(argv.end(), {"--tls", cert, key});
        return std::sscanf(Served::Start(argv).c_str(), "%hu %hu %hu %hu %u %u", &port, &tlsPort, &imapPort,
                           &imapTlsPort, &mailUid_, &mailGid_) == 6;
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
    uint16_t port = 0, tlsPort = 0, imapPort = 0, imapTlsPort = 0;
    // Set before Start: IMAP as well as POP3, and the SASL mechanisms offered.
    bool imap = false;
    std::string mechanisms = "plain";

  private:
    unsigned mailUid_ = 0, mailGid_ = 0;
};

// dante as a SOCKS 4 and 5 proxy, without authentication or with a system user.
class Dante : Served {
  public:
    Dante() : Served("socks") {}
    static bool Available() { return testsupport::Executable("/usr/sbin/danted"); }
    bool Start(bool requireUser) {
        port = testsupport::ClosedPort();
        std::ofstream(dir_ + "/danted.conf")
            << "logoutput: " << dir_ << "/danted.log\ninternal: 127.0.0.1 port = " << port
            << "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: " << (requireUser ? "username" : "none")
            << "\nuser.privileged: root\nuser.unprivileged: nobody\n"
            << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\nsocks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n";
        // danted does not read its input: the shell ends it once the input is closed.
        return Served::Start({"/bin/bash", "-c",
                              "/usr/sbin/danted -f \"$0\" -N 1 & for i in $(seq 200); do (exec 3<>/dev/tcp/127.0.0.1/$1) "
                              "2>/dev/null && echo up && break; sleep 0.05; done; cat >/dev/null; kill $!; wait",
                              dir_ + "/danted.conf", std::to_string(port)}) == "up";
    }
    std::string Log() const { return ReadFile(dir_ + "/danted.log"); }
    uint16_t port = 0;
};

// Postfix on loopback (servers/postfix.sh): `port` offers everything,
// `plainPort` neither 8BITMIME nor SMTPUTF8, with a SIZE of 2000 bytes.
class Postfix : Served {
  public:
    Postfix() : Served("postfix") {}
    static bool Available() { return testsupport::Executable("/usr/sbin/postfix") && getuid() == 0; }
    bool Start() {
        return std::sscanf(Served::Start({"/bin/bash", KV_SERVERS_DIR "/postfix.sh", dir_}).c_str(), "%hu %hu", &port,
                           &plainPort) == 2;
    }
    std::string Log() const { return ReadFile(dir_ + "/maillog"); }
    // The first message in the maildir that holds every one of the texts,
    // waiting up to 10 s for it; "" when none came.
    std::string Delivered(const std::string &box, const std::vector<std::string> &present) const {
        for (int i = 0; i < 200; ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::error_code ec;
            for (auto it = fs::directory_iterator(dir_ + "/mail/" + box + "/new", ec);
                 !ec && it != fs::directory_iterator(); ++it) {
                std::string text = ReadFile(it->path().string());
                if (std::all_of(present.begin(), present.end(),
                                [&](const std::string &p) { return text.find(p) != std::string::npos; }))
                    return text;
            }
        }
        return std::string();
    }
    uint16_t port = 0, plainPort = 0;
};

} // namespace fixtures
