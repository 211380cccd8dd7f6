// kvmail's command line: options (getopt_long), numbers checked, secrets read
// from files or the environment, and the texts of --help and --version.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvmail {

// Exit codes (also in the --help text and so in the manual page).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPartlyDelivered = 3;

struct Args {
    std::string command;
    std::vector<std::string> positional;
    // Values of the long options that take one, in command-line order.
    std::map<std::string, std::vector<std::string>> values;
    bool help = false;
    bool version = false;
    int level = 0;
    // Never printed, never on the command line when they come from a file or
    // the environment.
    std::optional<std::string> password;
    std::optional<std::string> token;

    std::string One(const std::string &name, const std::string &fallback = "") const;
    const std::vector<std::string> &All(const std::string &name) const;
    bool Has(const std::string &name) const { return values.count(name) != 0; }
};

// Fills args from the command line and the environment; false with a message
// that names the offending option or argument.
bool ParseArguments(int argc, char **argv, Args &args, std::string &error);

// The whole --help text, or that of one command (empty when there is none).
const char *UsageText();
const char *CommandUsage(const std::string &command);

} // namespace kvmail
