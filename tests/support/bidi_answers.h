// Bidi answers as plain values, for comparing with what a test expects, and the freeing of the
// container the answer came in.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/host.h"

namespace langmon_test {

struct BidiAnswer {
  DWORD result = 0;
  DWORD request = 0;
  std::u16string schema;
  DWORD type = BIDI_NULL;
  std::u16string text;    // BIDI_STRING, BIDI_TEXT, BIDI_ENUM
  LONG number = 0;        // BIDI_INT, BIDI_BOOL
  bool noSchema = false;  // pSchema NULL

  bool operator==(const BidiAnswer&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const BidiAnswer& answer) {
  out << "{" << answer.result << ", #" << answer.request << ", ";
  if (answer.noSchema) out << "(no schema)";
  for (char16_t c : answer.schema) out << static_cast<char>(c);
  out << ", type " << answer.type << ", ";
  for (char16_t c : answer.text) out << static_cast<char>(c);
  return out << ", " << answer.number << "}";
}

// Shorthands for the four kinds of value the consumables answers carry.
inline BidiAnswer Text(DWORD type, DWORD request, std::u16string schema, std::u16string text) {
  return {ERROR_SUCCESS, request, std::move(schema), type, std::move(text), 0};
}
inline BidiAnswer Number(DWORD type, DWORD request, std::u16string schema, LONG number) {
  return {ERROR_SUCCESS, request, std::move(schema), type, u"", number};
}
inline BidiAnswer Refusal(DWORD result, DWORD request, std::u16string schema) {
  return {result, request, std::move(schema), BIDI_NULL, u"", 0};
}
// An entry of an EnumSchema list: no schema of its own, the listed one as BIDI_TEXT.
inline BidiAnswer Listed(DWORD request, std::u16string schema) {
  return {ERROR_SUCCESS, request, u"", BIDI_TEXT, std::move(schema), 0, true};
}

// Reads the answers and frees the container, as the spooler does once it has passed them on.
inline std::vector<BidiAnswer> TakeAnswers(PBIDI_RESPONSE_CONTAINER container) {
  std::vector<BidiAnswer> answers;
  if (container == nullptr) {
    return answers;
  }
  for (DWORD i = 0; i < container->Count; ++i) {
    const BIDI_RESPONSE_DATA& data = container->aData[i];
    BidiAnswer answer;
    answer.result = data.dwResult;
    answer.request = data.dwReqNumber;
    answer.schema = data.pSchema != nullptr ? data.pSchema : u"";
    answer.noSchema = data.pSchema == nullptr;
    answer.type = data.data.dwBidiType;
    if (answer.type == BIDI_STRING || answer.type == BIDI_TEXT || answer.type == BIDI_ENUM) {
      answer.text = data.data.u.sData != nullptr ? data.data.u.sData : u"";
    } else if (answer.type == BIDI_INT) {
      answer.number = data.data.u.iData;
    } else if (answer.type == BIDI_BOOL) {
      answer.number = data.data.u.bData;
    }
    answers.push_back(answer);
  }
  RouterFreeBidiResponseContainer(container);
  return answers;
}

// The four answers of one consumable, in the order the monitor lists them.
inline std::vector<BidiAnswer> ConsumableAnswers(DWORD request, const std::u16string& name,
                                                 BOOL installed, LONG level) {
  const std::u16string base = u"\\Printer.Consumables." + name;
  return {Text(BIDI_ENUM, request, base + u":Type", u"Ink"),
          Text(BIDI_STRING, request, base + u":Color", name),
          Number(BIDI_BOOL, request, base + u":Installed", installed),
          Number(BIDI_INT, request, base + u":Level", level)};
}

}  // namespace langmon_test
