#include "platform/io_error.h"

#include <array>
#include <utility>

#include "text/debug_text.h"
#include "platform/platform.h"

namespace quorvel {
namespace {

struct KindText {
  std::string_view name;
  std::string_view description;
};

// Indexed by ErrorKind; the order of the enumeration.
constexpr std::array<KindText, 42> kind_texts{{
    {"NotFound", "entity not found"},
    {"PermissionDenied", "permission denied"},
    {"ConnectionRefused", "connection refused"},
    {"ConnectionReset", "connection reset"},
    {"HostUnreachable", "host unreachable"},
    {"NetworkUnreachable", "network unreachable"},
    {"ConnectionAborted", "connection aborted"},
    {"NotConnected", "not connected"},
    {"AddrInUse", "address in use"},
    {"AddrNotAvailable", "address not available"},
    {"NetworkDown", "network down"},
    {"BrokenPipe", "broken pipe"},
    {"AlreadyExists", "entity already exists"},
    {"WouldBlock", "operation would block"},
    {"NotADirectory", "not a directory"},
    {"IsADirectory", "is a directory"},
    {"DirectoryNotEmpty", "directory not empty"},
    {"ReadOnlyFilesystem", "read-only filesystem or storage medium"},
    {"FilesystemLoop", "filesystem loop or indirection limit (e.g. symlink loop)"},
    {"StaleNetworkFileHandle", "stale network file handle"},
    {"InvalidInput", "invalid input parameter"},
    {"InvalidData", "invalid data"},
    {"TimedOut", "timed out"},
    {"WriteZero", "write zero"},
    {"StorageFull", "no storage space"},
    {"NotSeekable", "seek on unseekable file"},
    {"QuotaExceeded", "quota exceeded"},
    {"FileTooLarge", "file too large"},
    {"ResourceBusy", "resource busy"},
    {"ExecutableFileBusy", "executable file busy"},
    {"Deadlock", "deadlock"},
    {"CrossesDevices", "cross-device link or rename"},
    {"TooManyLinks", "too many links"},
    {"InvalidFilename", "invalid filename"},
    {"ArgumentListTooLong", "argument list too long"},
    {"Interrupted", "operation interrupted"},
    {"Unsupported", "unsupported"},
    {"UnexpectedEof", "unexpected end of file"},
    {"OutOfMemory", "out of memory"},
    {"InProgress", "in progress"},
    {"Other", "other error"},
    {"Uncategorized", "uncategorized error"},
}};
static_assert(kind_texts.size() == static_cast<std::size_t>(ErrorKind::Uncategorized) + 1);

}  // namespace

std::string_view kind_name(ErrorKind kind) noexcept {
  return kind_texts[static_cast<std::size_t>(kind)].name;
}

std::string_view kind_description(ErrorKind kind) noexcept {
  return kind_texts[static_cast<std::size_t>(kind)].description;
}

IoError IoError::os(std::int32_t code) noexcept {
  IoError error;
  error.form_ = Form::Os;
  error.code_ = code;
  return error;
}

IoError IoError::simple(ErrorKind kind) noexcept {
  IoError error;
  error.form_ = Form::Simple;
  error.kind_ = kind;
  return error;
}

IoError IoError::simple_message(ErrorKind kind, std::string_view message) noexcept {
  IoError error;
  error.form_ = Form::SimpleMessage;
  error.kind_ = kind;
  error.message_ = message;
  return error;
}

ErrorKind IoError::kind() const noexcept {
  // An OS error's kind is derived from its code whenever it is asked for, never stored.
  return form_ == Form::Os ? platform::os_error_kind(code_) : kind_;
}

void IoError::append_debug(std::string& out) const {
  switch (form_) {
    case Form::Os:
      out += "Os { code: ";
      out += std::to_string(code_);
      out += ", kind: ";
      out += kind_name(kind());
      out += ", message: ";
      append_debug_text(out, platform::os_error_message(code_));
      out += " }";
      return;
    case Form::Simple:
      out += "Kind(";
      out += kind_name(kind_);
      out += ')';
      return;
    case Form::SimpleMessage:
      out += "Error { kind: ";
      out += kind_name(kind_);
      out += ", message: ";
      append_debug_text(out, message_);
      out += " }";
      return;
  }
}

void IoError::append_display(std::string& out) const {
  switch (form_) {
    case Form::Os:
      out += platform::os_error_message(code_);
      out += " (os error ";
      out += std::to_string(code_);
      out += ')';
      return;
    case Form::Simple:
      out += kind_description(kind_);
      return;
    case Form::SimpleMessage:
      out += message_;
      return;
  }
}

std::string IoError::debug() const {
  std::string out;
  append_debug(out);
  return out;
}

std::string IoError::display() const {
  std::string out;
  append_display(out);
  return out;
}

void append_debug(std::string& out, const IoError& error) { error.append_debug(out); }

}  // namespace quorvel
