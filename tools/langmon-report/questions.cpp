#include "tools/langmon-report/questions.h"

#include <iterator>

namespace langmon_report {

namespace {

struct Box {
  unsigned id;
  const char* text;
};

constexpr Box kTexts[] = {
#define MONITOR_TEXT(id, text) {id, text},
#include "resources/texts.inc"
#undef MONITOR_TEXT
};

struct Topic {
  unsigned id;
  const char* topic;
  bool notice;
};

constexpr Topic kTopics[] = {
    {400, "alignment needed", false},         {422, "alignment failed", true},
    {427, "change the cartridge", true},      {436, "label stock out", false},
    {440, "unrecoverable error", true},       {443, "job must be sent again", true},
    {445, "invalid cartridge", false},        {450, "no cartridge", false},
    {453, "alignment values invalid", false}, {454, "no status from the printer", false},
    {455, "printer not reachable", true},     {464, "no cartridge information", false},
    {468, "label sensor (TOF) error", false}, {469, "ink low", false},
    {470, "cartridge empty", false},          {472, "unload the label stock", true},
};

}  // namespace

std::string_view QuestionText(unsigned id) {
  for (const Box& box : kTexts) {
    if (box.id == id) return box.text;
  }
  return {};
}

std::string QuestionTopic(unsigned id) {
  for (const Topic& topic : kTopics) {
    if (topic.id == id) return topic.topic;
  }
  return "box " + std::to_string(id);
}

bool IsNotice(unsigned id) {
  for (const Topic& topic : kTopics) {
    if (topic.id == id) return topic.notice;
  }
  return false;
}

}  // namespace langmon_report
