// IPLException: the one exception type of the image library.
//
// Thrown by value with a fixed English message ("Can't open image file",
// "Corrupt data", ...); what() returns that message. A failure of the
// system underneath (a file that cannot be created, a full disk) also
// carries the system's error number, so an edge that talks to a user can
// add the system's own reason (systemErrorText); the message stays the
// library's.
#pragma once

#include <exception>
#include <string>

namespace velIPL {

class IPLException : public std::exception {
public:
  explicit IPLException(std::string message);
  IPLException(std::string message, int systemError);
  ~IPLException() override;
  const char* what() const noexcept override;

  // The errno value of the failed system call; 0 when the failure was not
  // the system's.
  int systemError() const noexcept { return systemError_; }

private:
  std::string message_;
  int systemError_ = 0;
};

// The system's reason for an errno value in the words both programs show
// the user: "No such file or folder" for a missing file or folder,
// otherwise the C library's text ("Permission denied", "No space left on
// device").
std::string systemErrorText(int error);

}  // namespace velIPL
