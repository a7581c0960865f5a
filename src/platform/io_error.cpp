#include "platform/io_error.h"

#include <array>
#include <utility>

#include "text/debug_text.h"
#include "platform/platform.h"

namespace quorvel {
namespace {

// Indexed by ErrorKind; the order of the enumeration.
constexpr std::array<std::string_view, 42> kind_names{
    "NotFound",
    "PermissionDenied",
    "ConnectionRefused",
    "ConnectionReset",
    "HostUnreachable",
    "NetworkUnreachable",
    "ConnectionAborted",
    "NotConnected",
    "AddrInUse",
    "AddrNotAvailable",
    "NetworkDown",
    "BrokenPipe",
    "AlreadyExists",
    "WouldBlock",
    "NotADirectory",
    "IsADirectory",
    "DirectoryNotEmpty",
    "ReadOnlyFilesystem",
    "FilesystemLoop",
    "StaleNetworkFileHandle",
    "InvalidInput",
    "InvalidData",
    "TimedOut",
    "WriteZero",
    "StorageFull",
    "NotSeekable",
    "QuotaExceeded",
    "FileTooLarge",
    "ResourceBusy",
    "ExecutableFileBusy",
    "Deadlock",
    "CrossesDevices",
    "TooManyLinks",
    "InvalidFilename",
    "ArgumentListTooLong",
    "Interrupted",
    "Unsupported",
    "UnexpectedEof",
    "OutOfMemory",
    "InProgress",
    "Other",
    "Uncategorized",
};
static_assert(kind_names.size() == static_cast<std::size_t>(ErrorKind::Uncategorized) + 1);

}  // namespace

std::string_view kind_name(ErrorKind kind) noexcept {
  return kind_names[static_cast<std::size_t>(kind)];
}

IoError IoError::os(std::int32_t code) noexcept {
  IoError error;
  error.form_ = Form::Os;
  error.code_ = code;
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
    case Form::SimpleMessage:
      out += message_;
      return;
  }
}

std::string IoError::display() const {
  std::string out;
  append_display(out);
  return out;
}

void append_debug(std::string& out, const IoError& error) { error.append_debug(out); }

}  // namespace quorvel
