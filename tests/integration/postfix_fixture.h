// Postfix on loopback with its own configuration, queue and maildirs in a
// temporary directory (as root, as Postfix wants): one listener offering
// everything (Port), one without 8BITMIME and SMTPUTF8 and with a SIZE of
// 2000 bytes (PlainPort). Known recipients: me, you, jörg @example.org and
// b@bücher.example, each delivered into its own maildir.
#pragma once

#include <pwd.h>
#include <signal.h>

#include <algorithm>

#include "fixtures.h"

namespace fixtures {

class Postfix : Scratch {
  public:
    Postfix() : Scratch("postfix") {}
    static bool Available() { return Exists("/usr/sbin/postfix") && getuid() == 0; }
    bool Start() {
        port_ = FreePort();
        plainPort_ = FreePort();
        for (const char *d : {"/queue", "/data", "/mail"}) fs::create_directories(dir_ + d);
        // getpwnam's answers share one buffer.
        struct passwd *entry = getpwnam("postfix");
        uid_t postfix = entry ? entry->pw_uid : 0;
        entry = getpwnam("nobody");
        if (dir_.empty() || !postfix || !entry || chown((dir_ + "/data").c_str(), postfix, 0) != 0 ||
            chown((dir_ + "/mail").c_str(), entry->pw_uid, entry->pw_gid) != 0)
            return false;
        uid_t nobodyUid = entry->pw_uid;
        gid_t nobodyGid = entry->pw_gid;
        std::ofstream(dir_ + "/main.cf")
            << "compatibility_level = 3.6\nqueue_directory = " << dir_ << "/queue\ndata_directory = " << dir_
            << "/data\nmeta_directory = /etc/postfix\nmail_owner = postfix\nsetgid_group = postdrop\n"
            << "inet_interfaces = 127.0.0.1\ninet_protocols = ipv4\nmyhostname = kv-test.example\nmydestination =\n"
            << "mynetworks = 127.0.0.0/8\nmaillog_file_prefixes = " << dir_ << "\nmaillog_file = " << dir_
            << "/maillog\nsmtputf8_enable = yes\nalias_maps =\n"
            << "virtual_mailbox_domains = example.org, xn--bcher-kva.example\nvirtual_mailbox_base = " << dir_
            << "/mail\nvirtual_mailbox_maps = inline:{ me@example.org=me/, you@example.org=you/, "
               "j\xC3\xB6rg@example.org=jorg/, b@xn--bcher-kva.example=idn/ }\n"
            << "virtual_uid_maps = static:" << nobodyUid << "\nvirtual_gid_maps = static:" << nobodyGid
            << "\nsmtpd_relay_restrictions = permit_mynetworks, reject_unauth_destination\n";
        std::ofstream master(dir_ + "/master.cf");
        master << "127.0.0.1:" << port_ << " inet n - n - - smtpd\n127.0.0.1:" << plainPort_
               << " inet n - n - - smtpd -o smtpd_discard_ehlo_keywords=8bitmime,smtputf8 -o message_size_limit=2000\n";
        for (const char *service : {"pickup unix n - n 60 1 pickup",  "cleanup unix n - n - 0 cleanup",
                                    "qmgr unix n - n 300 1 qmgr",     "rewrite unix - - n - - trivial-rewrite",
                                    "bounce unix - - n - 0 bounce",   "defer unix - - n - 0 bounce",
                                    "trace unix - - n - 0 bounce",    "verify unix - - n - 1 verify",
                                    "flush unix n - n 1000? 0 flush", "proxymap unix - - n - - proxymap",
                                    "smtp unix - - n - - smtp",       "relay unix - - n - - smtp",
                                    "showq unix n - n - - showq",     "error unix - - n - - error",
                                    "retry unix - - n - - error",     "discard unix - - n - - discard",
                                    "virtual unix - n n - - virtual", "anvil unix - - n - 1 anvil",
                                    "scache unix - - n - 1 scache",   "postlog unix-dgram n - n - 1 postlogd"})
            master << service << "\n";
        master.close();
        return Command("start") && WaitForPort(port_) && WaitForPort(plainPort_);
    }
    ~Postfix() {
        // The master daemon leaves when told; the directory goes only after it.
        pid_t master = std::atoi(ReadFile(dir_ + "/queue/pid/master.pid").c_str());
        if (master > 0) Command("stop");
        for (int i = 0; master > 0 && kill(master, 0) == 0 && i < 100; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    uint16_t Port() const { return port_; }
    uint16_t PlainPort() const { return plainPort_; }
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

  private:
    bool Command(const char *what) const {
        return std::system(("/usr/sbin/postfix -c " + dir_ + " " + what + " >/dev/null 2>&1").c_str()) == 0;
    }
    uint16_t port_ = 0;
    uint16_t plainPort_ = 0;
};

} // namespace fixtures
