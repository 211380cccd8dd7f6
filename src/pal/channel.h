// The diagnostic channel to an external viewer: the mailslot
// "\\.\mailslot\traxon" on Windows, a Unix datagram socket elsewhere.
#pragma once

#include <string>

namespace kv::pal {

void ChannelOpen(const std::string &moduleTag);
void ChannelClose();
// Sends one record (the module tag and time stamp are added here).
void ChannelSend(const std::string &text);
// POSIX: the socket path the viewer binds; tests point it elsewhere.
void ChannelSetPath(const std::string &path);
std::string ChannelPath();

} // namespace kv::pal
