#include "resources/string_table.h"

const StringTableEntry kStringTable[] = {
#define MONITOR_TEXT(id, text) {id, u"" text},
#include "resources/texts.inc"
#undef MONITOR_TEXT
};

const unsigned kStringTableSize = sizeof(kStringTable) / sizeof(kStringTable[0]);
