// Texts of the Winsock error codes: the short name, then what it means.
#include "pal/system.h"
#include "net/socket.h"

namespace kv {

namespace {

struct ErrorText {
    int code;
    const char *text;
};

const ErrorText kSocketErrors[] = {
    {10013, "Permission denied. (An attempt was made to access a socket in a way forbidden by its access permissions.)"},
    {10048, "Address already in use. (Only one usage of each socket address is normally permitted.)"},
    {10049, "Cannot assign requested address. (The requested address is not valid in its context.)"},
    {10047, "Address family not supported by protocol family. (An address incompatible with the requested protocol was used.)"},
    {10037, "Operation already in progress. (An operation was attempted on a nonblocking socket that already had an operation in progress.)"},
    {10053, "Software caused connection abort. (An established connection was aborted by the software in your host machine.)"},
    {10061, "Connection refused. (No connection could be made because the target machine actively refused it.)"},
    {10054, "Connection reset by peer. (An existing connection was forcibly closed by the remote host.)"},
    {10039, "Destination address required. (A required address was omitted from an operation on a socket.)"},
    {10014, "Bad address. (The system detected an invalid pointer address in attempting to use a pointer argument in a call.)"},
    {10064, "Host is down. (A socket operation failed because the destination host was down.)"},
    {10065, "No route to host. (A socket operation was attempted to an unreachable host.)"},
    {10036, "Operation now in progress. (A blocking operation is currently executing.)"},
    {10004, "Interrupted function call. (A blocking operation was interrupted.)"},
    {10022, "Invalid argument. (An invalid argument was supplied.)"},
    {10056, "Socket is already connected. (A connect request was made on an already connected socket.)"},
    {10024, "Too many open files. (Too many open sockets.)"},
    {10040, "Message too long. (A message sent on a datagram socket was larger than the internal message buffer.)"},
    {10050, "Network is down. (A socket operation encountered a dead network.)"},
    {10052, "Network dropped connection on reset. (The connection has been broken due to keep-alive activity detecting a failure.)"},
    {10051, "Network is unreachable. (A socket operation was attempted to an unreachable network.)"},
    {10055, "No buffer space available. (The system lacked sufficient buffer space or a queue was full.)"},
    {10042, "Bad protocol option. (An unknown, invalid, or unsupported option or level was specified.)"},
    {10057, "Socket is not connected. (A request to send or receive data was disallowed because the socket is not connected.)"},
    {10038, "Socket operation on nonsocket. (An operation was attempted on something that is not a socket.)"},
    {10045, "Operation not supported. (The attempted operation is not supported for the type of object referenced.)"},
    {10046, "Protocol family not supported. (The protocol family has not been configured into the system.)"},
    {10067, "Too many processes. (Too many applications are using the socket implementation.)"},
    {10043, "Protocol not supported. (The requested protocol has not been configured into the system.)"},
    {10041, "Protocol wrong type for socket. (A protocol was specified that does not support the semantics of the socket type.)"},
    {10058, "Cannot send after socket shutdown. (The socket had already been shut down in that direction.)"},
    {10044, "Socket type not supported. (The support for the specified socket type does not exist in this address family.)"},
    {10060, "Connection timed out. (The connected party did not properly respond after a period of time.)"},
    {10109, "Class type not found. (The specified class was not found.)"},
    {10035, "Resource temporarily unavailable. (A nonblocking socket operation could not be completed immediately.)"},
    {11001, "Host not found. (No such host is known.)"},
    {6, "Specified event object handle is invalid. (The handle is invalid.)"},
    {87, "One or more parameters are invalid. (The parameter is incorrect.)"},
    {996, "Overlapped I/O event object not in signaled state. (The overlapped operation has not completed.)"},
    {997, "Overlapped operations will complete later. (An overlapped operation is in progress.)"},
    {8, "Insufficient memory available. (Not enough memory is available to complete the operation.)"},
    {10093, "Successful WSAStartup not yet performed. (The socket subsystem has not been started.)"},
    {11004, "Valid name, no data record of requested type. (The requested name is valid, but no data of the requested type was found.)"},
    {11003, "This is a nonrecoverable error. (A nonrecoverable error occurred during a database lookup.)"},
    {10107, "System call failure. (A system call that should never fail has failed.)"},
    {10091, "Network subsystem is unavailable. (The underlying network subsystem is not ready for network communication.)"},
    {11002, "Nonauthoritative host not found. (This is usually a temporary error during host name resolution.)"},
    {10092, "Winsock.dll version out of range. (The requested version of the socket subsystem is not supported.)"},
    {10101, "Graceful shutdown in progress. (The remote party has initiated a graceful shutdown sequence.)"},
    {995, "Overlapped operation aborted. (The I/O operation has been aborted because of a thread exit or an application request.)"},
};

} // namespace

String clsSocket::GetSocketErrorText(int code) {
    for (const ErrorText &row : kSocketErrors)
        if (row.code == code) return row.text;
    String text = pal::SystemMessageText(code);
    return text.empty() ? Format("error %d", code) : text;
}

} // namespace kv
