// The monitor's texts as the native build serves them through LoadStringW.
#pragma once

struct StringTableEntry {
  unsigned id;
  const char16_t* text;
};

extern const StringTableEntry kStringTable[];
extern const unsigned kStringTableSize;
