#include "tools/langmon-cups/ink_markers.h"

#include <map>
#include <string>

#include "platform/host.h"

namespace langmon_cups {

namespace {

std::string Narrow(LPCWSTR text) {
  std::string result;
  for (; text != nullptr && *text != 0; ++text) result.push_back(static_cast<char>(*text));
  return result;
}

}  // namespace

std::vector<Ink> AskInkLevels(const MONITOR2& monitor, HANDLE hPort) {
  if (monitor.pfnSendRecvBidiDataFromPort == nullptr) return {};
  std::u16string schema = u"\\Printer.Consumables";
  std::u16string action = BIDI_ACTION_GET_ALL;
  BIDI_REQUEST_CONTAINER request = {};
  request.Version = 1;
  request.Count = 1;
  request.aData[0].dwReqNumber = 0;
  request.aData[0].pSchema = schema.data();
  request.aData[0].data.dwBidiType = BIDI_NULL;
  PBIDI_RESPONSE_CONTAINER answers = nullptr;
  if (monitor.pfnSendRecvBidiDataFromPort(hPort, BIDI_ACCESS_USER, action.data(), &request,
                                          &answers) != ERROR_SUCCESS ||
      answers == nullptr) {
    return {};
  }
  // "\Printer.Consumables.<Name>:<Property>", in the order the monitor lists its inks.
  std::vector<Ink> inks;
  std::map<std::string, size_t> index;
  for (DWORD i = 0; i < answers->Count; ++i) {
    const BIDI_RESPONSE_DATA& answer = answers->aData[i];
    if (answer.dwResult != ERROR_SUCCESS) continue;
    const std::string path = Narrow(answer.pSchema);
    const size_t dot = path.rfind('.');
    const size_t colon = path.rfind(':');
    if (dot == std::string::npos || colon == std::string::npos || colon < dot) continue;
    const std::string name = path.substr(dot + 1, colon - dot - 1);
    const std::string property = path.substr(colon + 1);
    if (index.count(name) == 0) {
      index[name] = inks.size();
      inks.push_back(Ink{name, false, -1});
    }
    Ink& ink = inks[index[name]];
    if (property == "Installed" && answer.data.dwBidiType == BIDI_BOOL) {
      ink.installed = answer.data.u.bData != FALSE;
    } else if (property == "Level" && answer.data.dwBidiType == BIDI_INT) {
      ink.level = static_cast<int>(answer.data.u.iData);
    }
  }
  RouterFreeBidiResponseContainer(answers);
  return inks;
}

}  // namespace langmon_cups
