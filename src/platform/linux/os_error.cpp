#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace quorvel::platform {

ErrorKind os_error_kind(std::int32_t code) noexcept {
  switch (code) {
    case ENOENT: return ErrorKind::NotFound;
    case EACCES: case EPERM: return ErrorKind::PermissionDenied;
    case ECONNREFUSED: return ErrorKind::ConnectionRefused;
    case ECONNRESET: return ErrorKind::ConnectionReset;
    case EHOSTUNREACH: return ErrorKind::HostUnreachable;
    case ENETUNREACH: return ErrorKind::NetworkUnreachable;
    case ECONNABORTED: return ErrorKind::ConnectionAborted;
    case ENOTCONN: return ErrorKind::NotConnected;
    case EADDRINUSE: return ErrorKind::AddrInUse;
    case EADDRNOTAVAIL: return ErrorKind::AddrNotAvailable;
    case ENETDOWN: return ErrorKind::NetworkDown;
    case EPIPE: return ErrorKind::BrokenPipe;
    case EEXIST: return ErrorKind::AlreadyExists;
    case EAGAIN: return ErrorKind::WouldBlock;  // EWOULDBLOCK is the same value here
    case ENOTDIR: return ErrorKind::NotADirectory;
    case EISDIR: return ErrorKind::IsADirectory;
    case ENOTEMPTY: return ErrorKind::DirectoryNotEmpty;
    case EROFS: return ErrorKind::ReadOnlyFilesystem;
    case ELOOP: return ErrorKind::FilesystemLoop;
    case ESTALE: return ErrorKind::StaleNetworkFileHandle;
    case EINVAL: return ErrorKind::InvalidInput;
    case ETIMEDOUT: return ErrorKind::TimedOut;
    case ENOSPC: return ErrorKind::StorageFull;
    case ESPIPE: return ErrorKind::NotSeekable;
    case EDQUOT: return ErrorKind::QuotaExceeded;
    case EFBIG: return ErrorKind::FileTooLarge;
    case EBUSY: return ErrorKind::ResourceBusy;
    case ETXTBSY: return ErrorKind::ExecutableFileBusy;
    case EDEADLK: return ErrorKind::Deadlock;
    case EXDEV: return ErrorKind::CrossesDevices;
    case EMLINK: return ErrorKind::TooManyLinks;
    case ENAMETOOLONG: return ErrorKind::InvalidFilename;
    case E2BIG: return ErrorKind::ArgumentListTooLong;
    case EINTR: return ErrorKind::Interrupted;
    case ENOSYS: return ErrorKind::Unsupported;
    case ENOMEM: return ErrorKind::OutOfMemory;
    case EINPROGRESS: return ErrorKind::InProgress;
    default: return ErrorKind::Uncategorized;
  }
}

std::string os_error_message(std::int32_t code) {
  char buffer[256];
  // The GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(code, buffer, sizeof buffer);
  std::string message(text);
  while (!message.empty() && std::strchr(" \t\n\f\r", message.back()) != nullptr) message.pop_back();
  return message;
}

}  // namespace quorvel::platform
