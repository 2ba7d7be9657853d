#include "tools/langmon-cups/device_uri.h"

#include <cctype>

namespace langmon_cups {

namespace {

bool ValidScheme(const std::string& scheme) {
  if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme[0]))) return false;
  for (const char c : scheme) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseDeviceUri(const std::string& deviceUri, InnerDevice* device, std::string* why) {
  const std::string prefix = std::string(kScheme) + ":";
  if (deviceUri.compare(0, prefix.size(), prefix) != 0) {
    *why = "the device URI \"" + deviceUri + "\" does not begin with \"" + prefix + "\"";
    return false;
  }
  device->uri = deviceUri.substr(prefix.size());
  const size_t colon = device->uri.find(':');
  device->scheme = colon == std::string::npos ? "" : device->uri.substr(0, colon);
  if (!ValidScheme(device->scheme)) {
    *why = "\"" + device->uri + "\" after \"" + prefix + "\" is not a device URI";
    return false;
  }

  if (device->scheme == "socket") {
    const std::string authority = "socket://";
    if (device->uri.compare(0, authority.size(), authority) != 0 ||
        device->uri.size() == authority.size()) {
      *why = "write the device as socket://HOST:PORT/?snmp=false";
      return false;
    }
    // CUPS refuses "socket://host:9100?snmp=false" as a bad URI, and its backend then retries
    // for ever: the resource's slash is needed before the options.
    const size_t query = device->uri.find('?', authority.size());
    const size_t slash = device->uri.find('/', authority.size());
    if (query != std::string::npos && (slash == std::string::npos || slash > query)) {
      *why = "\"" + device->uri + "\" needs a slash before \"?\": socket://HOST:PORT/?snmp=false";
      return false;
    }
    device->kind = InnerKind::Socket;
    return true;
  }
  if (device->scheme == "usb") {
    device->kind = InnerKind::Usb;
    return true;
  }
  *why = "the \"" + device->scheme +
         "\" backend brings back no status from the printer; only socket:// and usb:// devices "
         "can be checked before a job";
  return false;
}

}  // namespace langmon_cups
