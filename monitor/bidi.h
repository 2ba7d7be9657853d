// The pieces of the bidi entry: the answer container, filled through the spooler's allocators,
// and the consumables that the monitor itself answers for.
#pragma once

#include "monitor/monitor.h"
#include "prepare/ink_limits.h"

constexpr DWORD kBidiContainerVersion = 1;

enum class BidiAction { kGet, kGetAll, kSet, kEnumSchema };

// ---- The answer container ------------------------------------------------------------------

// The spooler's allocators for answers; the caller frees what it gets with the spooler's own
// function, which frees every string and blob of the answers along with the container.
struct BidiAllocators {
  PBIDI_RESPONSE_CONTAINER(WINAPI* pfnAllocContainer)(DWORD Count);
  PVOID(WINAPI* pfnAllocMem)(size_t NumBytes);
  DWORD(WINAPI* pfnFreeContainer)(PBIDI_RESPONSE_CONTAINER pData);
};

// False when the spooler lacks any of them (older spoolers).
bool FindBidiAllocators(BidiAllocators* pAllocators);

// A container being filled, one answer at a time. Count is the number of answers filled in so
// far; each is counted as soon as it holds a block of its own, so that the container can be
// freed whole at any point.
struct BidiAnswers {
  const BidiAllocators* pAllocators;
  PBIDI_RESPONSE_CONTAINER pContainer;
};

// A container from the spooler's allocator with room for cAnswers answers, none filled in yet;
// false without memory.
bool StartBidiAnswers(const BidiAllocators& allocators, DWORD cAnswers, BidiAnswers* pAnswers);

// Adds an answer without a value (BIDI_NULL); pszSchema may be NULL. False without memory.
bool AddBidiAnswer(BidiAnswers* pAnswers, DWORD dwResult, DWORD dwReqNumber, LPCWSTR pszSchema);
// The newest answer's value.
bool SetBidiText(BidiAnswers* pAnswers, DWORD dwType, LPCWSTR pszText);
void SetBidiBool(BidiAnswers* pAnswers, BOOL fValue);
void SetBidiInt(BidiAnswers* pAnswers, LONG nValue);

// Moves every answer of another container from the same allocator (the port monitor's) behind
// the answers there, and frees what is left of that container. Needs no memory: the strings and
// blobs change owner, they are not copied.
void TakeOverBidiAnswers(BidiAnswers* pAnswers, PBIDI_RESPONSE_CONTAINER pOther);

// ---- The consumables -------------------------------------------------------------------------

// Schemas in \Printer.Consumables (that property itself, or anything below it) are the monitor's.
bool IsConsumablesSchema(LPCWSTR pszSchema);
// \Printer, of which GetAll asks the monitor's values and the port monitor's alike.
bool IsPrinterSchema(LPCWSTR pszSchema);

// Without a status record the cartridge is not known: every ink it could hold is reported.
constexpr DWORD kMaxConsumables = kInkColorCount;

struct Consumable {
  const WCHAR* pszName;
  BOOL fInstalled;
  LONG nLevel;  // per cent of the limit left, -1 unknown
};

// The consumables as the monitor knows them now, in the order answers list them.
struct InkReport {
  DWORD count;
  Consumable items[kMaxConsumables];
};

// Reads the printer only when the port is known to be free; see bidi_consumables.cpp.
void ReportInks(IniPort* pIniPort, InkReport* pReport);

// How many answers the monitor gives to one of its own requests (at least one: a request that
// names no value gets its reason), and writes them.
DWORD ConsumablesAnswerCount(BidiAction action, const BIDI_REQUEST_DATA& request,
                             const InkReport& report);
bool WriteConsumablesAnswers(BidiAnswers* pAnswers, BidiAction action,
                             const BIDI_REQUEST_DATA& request, const InkReport& report);

// EnumSchema: every value the monitor answers for, as BIDI_TEXT entries without a schema.
DWORD SchemaListCount(const InkReport& report);
bool WriteSchemaList(BidiAnswers* pAnswers, DWORD dwReqNumber, const InkReport& report);
