// Exception classes of the suite. Every failure carries an English message that the
// windows show as it stands and that `qvl` prints after "qvl: ".
#pragma once

#include <stdexcept>
#include <string>

namespace qvl {

// Root of every failure the suite raises on purpose ("plain exception").
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A parameter or channel that the model does not define.
class EUndefinedParam : public Exception {
 public:
  using Exception::Exception;
};

// A time-out or a wrong answer on the link.
class ETimeOutError : public Exception {
 public:
  using Exception::Exception;
};

// Identification of the logger failed.
class EcuException : public Exception {
 public:
  using Exception::Exception;
};

// A configuration stream that cannot be read.
class QVLStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A bad line of an Intel HEX file.
class EFormatError : public Exception {
 public:
  using Exception::Exception;
};

// No USB device of the wanted kind is present.
class NoDeviceException : public Exception {
 public:
  using Exception::Exception;
};

// The outside media player failed (name kept as the player control has always spelled it).
class EMPlayerExeption : public Exception {
 public:
  using Exception::Exception;
};

// A read past the end of a stream ("Stream read error").
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// A write that a stream could not complete ("Stream write error").
class EWriteError : public Exception {
 public:
  using Exception::Exception;
};

// A file that cannot be opened, created, written or renamed; the message names the file.
class EFileError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace qvl
