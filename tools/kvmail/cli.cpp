#include "cli.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kvmail {

namespace {

// The one source of the manual page too (help2man): "Usage:", paragraphs,
// option lists, and the sections "Environment:" and "Exit status:".
const char kUsage[] =
    "Usage: kvmail [OPTION]... COMMAND [ARGUMENT]...\n"
    "A command-line host of the orkv14 mail component: composes and sends mail,\n"
    "reads a POP3 mailbox or an IMAP folder, shows message files. Options may stand\n"
    "before or after the command, as --name=VALUE or --name VALUE; -- ends them.\n"
    "\n"
    "Commands:\n"
    "  info                  the component's banner and which providers work here\n"
    "  send                  compose a mail and send it; without --server or\n"
    "                        --settings it goes to the outbox directory instead\n"
    "  render                print the RFC 822 text of a composed mail\n"
    "  list                  list the mailbox (POP3, or with --imap an IMAP folder):\n"
    "                        number, sender, subject\n"
    "  fetch N               write message N as N.eml and its attachments into the\n"
    "                        --out directory; names from the mail are reduced to safe\n"
    "                        base names and never replace a file (a suffix\n"
    "                        such as data-1.bin makes them unique)\n"
    "  delete N              delete message N from the mailbox\n"
    "  read N                mark message N as read (IMAP; POP3 keeps no read flags)\n"
    "  show FILE.eml         print the headers, bodies and attachments of a message file\n"
    "  config export|import  print the settings strings stored under --app KEY, or\n"
    "                        store the one in --settings FILE there\n"
    "\n"
    "Composing (send, render):\n"
    "      --from=ADDR       the sender\n"
    "      --to=ADDR         a recipient; --to, --cc and --bcc may be repeated\n"
    "      --cc=ADDR         a copy recipient\n"
    "      --bcc=ADDR        a blind copy recipient\n"
    "      --subject=TEXT    the subject\n"
    "      --text=FILE       the plain text body\n"
    "      --html=FILE       the HTML body; files it refers to by a relative name\n"
    "                        become inline pictures\n"
    "      --attach=FILE     an attachment (may be repeated)\n"
    "\n"
    "Server (send, list, fetch, read, delete):\n"
    "      --provider=NAME   smtp (the default) or cdosys, for send\n"
    "      --imap            list, fetch, read and delete in an IMAP folder instead\n"
    "                        of the POP3 mailbox\n"
    "      --folder=NAME     the IMAP folder (default INBOX)\n"
    "      --server=HOST     the SMTP, POP3 or IMAP server\n"
    "      --port=N          its port, 1 to 65535\n"
    "      --user=NAME       the user to log on as\n"
    "      --password-file=FILE  the password: the first line of FILE\n"
    "      --password=PW     the password itself; other users can read it in the\n"
    "                        process list, so prefer --password-file or\n"
    "                        KVMAIL_PASSWORD\n"
    "      --token-file=FILE an OAuth 2.0 access token: the first line of FILE\n"
    "      --settings=FILE   a settings string (as config export prints it)\n"
    "      --option=NAME=VALUE  any option of the connection (may be repeated), such\n"
    "                        as TLSMode=starttls or TLSMode=implicit and TLSCAFile=FILE\n"
    "      --timeout=MS      the socket timeout in milliseconds\n"
    "      --outbox=DIR      where send keeps a mail without a server, or one that\n"
    "                        could not be sent (default: outbox)\n"
    "      --out=DIR         where fetch writes (default: the current directory)\n"
    "      --app=KEY         the application key of config\n"
    "\n"
    "Other options:\n"
    "  -v, --verbose=LEVEL   log to standard error: 1 exceptions, 2 calls, 3 details,\n"
    "                        128 the protocol only (0 to 255)\n"
    "      --trace           the protocol dialogue (the same as -v 128)\n"
    "  -h, --help            this text; after a command, that command's usage\n"
    "      --version         kvmail's version\n"
    "\n"
    "Passwords and tokens never appear in the log. Text from a server or a mail is\n"
    "printed with its control characters escaped (\\x1b, \\u009b).\n"
    "\n"
    "Environment:\n"
    "  KVMAIL_PASSWORD       the password, when neither --password nor\n"
    "                        --password-file is given\n"
    "  KVMAIL_TOKEN          the OAuth 2.0 access token, when --token-file is not given\n"
    "\n"
    "Exit status:\n"
    "  0                     success\n"
    "  1                     the component reported a failure (its error record is\n"
    "                        printed; a mail that was not sent is kept in the outbox\n"
    "                        directory), or an output file could not be written\n"
    "  2                     bad usage or an unreadable input file; nothing was sent\n"
    "  3                     send: some recipients were refused and the mail went to\n"
    "                        the others; both are listed (\"delivered:\", \"refused:\")\n";

struct CommandHelp {
    const char *name;
    const char *text;
};

const CommandHelp kCommandHelp[] = {
    {"info", "Usage: kvmail info\n  Prints the component's banner and which providers can work on this system.\n"},
    {"send",
     "Usage: kvmail send --from ADDR --to ADDR... [--cc ADDR]... [--bcc ADDR]... [--subject TEXT]\n"
     "                   [--text FILE] [--html FILE] [--attach FILE]...\n"
     "                   [--provider smtp|cdosys] [--server HOST] [--port N] [--user NAME]\n"
     "                   [--password-file FILE] [--token-file FILE] [--settings FILE]\n"
     "                   [--option Name=Value]... [--timeout MS] [--outbox DIR]\n"
     "  Composes a mail and sends it. Files that the HTML refers to by relative name become\n"
     "  inline pictures. Without --server or --settings the mail is rendered into the outbox\n"
     "  directory (default ./outbox) instead; a mail that could not be sent is kept there.\n"
     "  Exit status 3: some recipients were refused, the others have the mail.\n"},
    {"render", "Usage: kvmail render COMPOSE-OPTIONS\n  Prints the RFC 822 text of the composed mail (the options of send).\n"},
    {"list", "Usage: kvmail list [--imap [--folder NAME]] --server HOST [--port N] --user NAME\n"
             "                   [--password-file FILE] [--token-file FILE] [--settings FILE]\n"
             "  Lists the POP3 mailbox, or with --imap the IMAP folder (default INBOX): number,\n"
             "  sender, subject. N of the other commands is the number it shows.\n"},
    {"fetch", "Usage: kvmail fetch N [--imap [--folder NAME]] --server HOST ... [--out DIR]\n"
              "  Writes message N as DIR/N.eml and its attachments into DIR (default .), each under\n"
              "  a safe base name that does not exist yet.\n"},
    {"delete", "Usage: kvmail delete N [--imap [--folder NAME]] --server HOST ...\n"
               "  Deletes message N; the server removes it at once or when the session ends.\n"},
    {"read", "Usage: kvmail read N --imap [--folder NAME] --server HOST ...\n"
             "  Marks message N as read on the server. POP3 keeps no read flags: exit status 1.\n"},
    {"show", "Usage: kvmail show FILE.eml\n"
             "  Prints the headers, the bodies with their related parts, and the attachments with sizes.\n"},
    {"config", "Usage: kvmail config export --app KEY\n       kvmail config import --app KEY --settings FILE\n"
               "  Prints the settings strings stored under an application key, or stores one there.\n"},
};

enum Kind { kText, kFlag, kNumber, kPassword, kPasswordFile, kTokenFile, kLevel, kTrace, kHelp, kVersion };

struct Rule {
    const char *name;
    Kind kind;
    long min, max;
};

const Rule kRules[] = {
    {"from", kText, 0, 0},      {"to", kText, 0, 0},         {"cc", kText, 0, 0},
    {"bcc", kText, 0, 0},       {"subject", kText, 0, 0},    {"text", kText, 0, 0},
    {"html", kText, 0, 0},      {"attach", kText, 0, 0},     {"provider", kText, 0, 0},
    {"server", kText, 0, 0},    {"port", kNumber, 1, 65535}, {"user", kText, 0, 0},
    {"password", kPassword, 0, 0}, {"password-file", kPasswordFile, 0, 0}, {"token-file", kTokenFile, 0, 0},
    {"settings", kText, 0, 0},  {"option", kText, 0, 0},     {"timeout", kNumber, 1, INT_MAX},
    {"outbox", kText, 0, 0},    {"out", kText, 0, 0},        {"app", kText, 0, 0},
    {"verbose", kLevel, 0, 255}, {"trace", kTrace, 0, 0},    {"help", kHelp, 0, 0},
    {"version", kVersion, 0, 0}, {"imap", kFlag, 0, 0},     {"folder", kText, 0, 0},
};
constexpr size_t kRuleCount = sizeof kRules / sizeof kRules[0];
constexpr int kLongBase = 256;

bool TakesValue(Kind k) { return k != kFlag && k != kTrace && k != kHelp && k != kVersion; }

bool Number(const char *text, long min, long max, long &value) {
    errno = 0;
    char *end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text && *end == 0 && errno == 0 && value >= min && value <= max;
}

// The first line of a file, without its line end.
bool FirstLine(const char *path, std::string &line) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::getline(f, line);
    if (f.bad()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// An option's name as the user may have typed it, without a value (which
// may be a password).
std::string Named(const char *argument) {
    std::string s = argument;
    return s.substr(0, s.find('='));
}

} // namespace

std::string Args::One(const std::string &name, const std::string &fallback) const {
    auto it = values.find(name);
    return it == values.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string> &Args::All(const std::string &name) const {
    static const std::vector<std::string> none;
    auto it = values.find(name);
    return it == values.end() ? none : it->second;
}

bool ParseArguments(int argc, char **argv, Args &args, std::string &error) {
    option longOptions[kRuleCount + 1] = {};
    for (size_t i = 0; i < kRuleCount; ++i)
        longOptions[i] = {kRules[i].name, TakesValue(kRules[i].kind) ? required_argument : no_argument, nullptr,
                          kLongBase + int(i)};
    auto Known = [&](const std::string &word) {
        if (word.rfind("--", 0) != 0) return false;
        std::string name = Named(word.c_str() + 2);
        for (const Rule &s : kRules)
            if (name == s.name) return true;
        return false;
    };
    auto Find = [](const char *name) -> const Rule & {
        for (const Rule &s : kRules)
            if (std::strcmp(s.name, name) == 0) return s;
        return kRules[0];
    };
    auto Operand = [&](const char *word) {
        if (args.command.empty()) args.command = word;
        else args.positional.push_back(word);
    };
    // "-": operands come back in order (code 1), whatever POSIXLY_CORRECT says;
    // ":": a missing value is told apart from an unknown option.
    opterr = 0;
    optind = 0;
    for (;;) {
        int c = getopt_long(argc, argv, "-:hv:", longOptions, nullptr);
        if (c == -1) break;
        if (c == 1) {
            Operand(optarg);
            continue;
        }
        if (c == '?') {
            // getopt names a long option given a value it does not take by its code.
            error = optopt >= kLongBase ? "option '--" + std::string(kRules[optopt - kLongBase].name) + "' takes no value"
                    : optopt ? std::string("unknown option '-") + char(optopt) + "'"
                             : "unknown or ambiguous option '" + Named(argv[optind - 1]) + "'";
            return false;
        }
        int code = c == ':' ? optopt : c;
        const Rule &rule = code == 'h' ? Find("help") : code == 'v' ? Find("verbose") : kRules[code - kLongBase];
        std::string shown = code == 'v' ? "-v" : std::string("--") + rule.name;
        // "--to --subject x": the value of --to is missing, not "--subject".
        if (c == ':' || (optarg && optarg == argv[optind - 1] && Known(optarg))) {
            error = "option '" + shown + "' wants a value";
            return false;
        }
        long n = 0;
        switch (rule.kind) {
        case kNumber:
        case kLevel:
            if (!Number(optarg, rule.min, rule.max, n)) {
                error = "option '" + shown + "' wants a number from " + std::to_string(rule.min) + " to " +
                        std::to_string(rule.max) + ", not '" + optarg + "'";
                return false;
            }
            if (rule.kind == kLevel) args.level = int(n);
            else args.values[rule.name].push_back(optarg);
            break;
        case kPassword:
            args.password = optarg;
            break;
        case kPasswordFile:
        case kTokenFile: {
            std::string line;
            if (!FirstLine(optarg, line)) {
                error = "option '" + shown + "': cannot read '" + optarg + "': " + std::strerror(errno);
                return false;
            }
            (rule.kind == kPasswordFile ? args.password : args.token) = line;
            break;
        }
        case kTrace:
            args.level = 128;
            break;
        case kHelp:
            args.help = true;
            break;
        case kVersion:
            args.version = true;
            break;
        case kText:
            args.values[rule.name].push_back(optarg);
            break;
        case kFlag:
            args.values[rule.name].push_back("");
            break;
        }
    }
    for (; optind < argc; ++optind) Operand(argv[optind]);

    if (!args.password)
        if (const char *p = std::getenv("KVMAIL_PASSWORD")) args.password = p;
    if (!args.token)
        if (const char *t = std::getenv("KVMAIL_TOKEN")) args.token = t;

    if (args.help) return true;
    long n = 0;
    const std::string &c = args.command;
    bool numbered = c == "fetch" || c == "delete" || c == "read";
    if (numbered && (args.positional.empty() || !Number(args.positional[0].c_str(), 1, INT_MAX, n))) {
        error = c + " wants a message number from 1, not '" +
                (args.positional.empty() ? std::string() : args.positional[0]) + "'";
        return false;
    }
    if ((args.Has("imap") || args.Has("folder")) && !numbered && c != "list") {
        error = "options '--imap' and '--folder' are for list, fetch, read and delete";
        return false;
    }
    if (args.Has("folder") && !args.Has("imap")) {
        error = "option '--folder' wants --imap: a POP3 server has one mailbox";
        return false;
    }
    return true;
}

const char *UsageText() { return kUsage; }

const char *CommandUsage(const std::string &command) {
    for (const CommandHelp &h : kCommandHelp)
        if (command == h.name) return h.text;
    return "";
}

} // namespace kvmail
