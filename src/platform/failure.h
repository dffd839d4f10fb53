#pragma once

// The one error type of the program: a failed file operation or a refusal of the audio device. It carries the
// operating system's (or the device's) code and the message the user sees, in UTF-8, without the closing
// full stop that the message box adds.

#include <stdexcept>
#include <string>

namespace nagisora {

class Failure : public std::runtime_error {
  public:
    Failure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

    int Code() const { return code_; }
    std::string Message() const { return what(); }

  private:
    int code_;
};

} // namespace nagisora
