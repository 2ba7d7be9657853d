// The queue's device URI: "langmon:" followed by the URI of the real device, whose own CUPS
// backend the job is sent through.
#pragma once

#include <string>

namespace langmon_cups {

// How the inner backend is run. Socket: it is given a FIFO as its print file, so that it
// connects at once and the printer's status comes back before the job's first byte (reading
// standard input it connects only when that byte arrives). Usb: it opens the printer before it
// reads anything, so standard input serves.
enum class InnerKind { Socket, Usb };

struct InnerDevice {
  std::string uri;     // the real device's URI, as written after "langmon:"
  std::string scheme;  // its scheme: the name of the backend that serves it
  InnerKind kind = InnerKind::Socket;
};

constexpr char kScheme[] = "langmon";

// False with the reason, in words for the queue's administrator, when the URI is not ours or
// names a device whose backend brings no back channel to read the printer's status through.
bool ParseDeviceUri(const std::string& deviceUri, InnerDevice* device, std::string* why);

}  // namespace langmon_cups
