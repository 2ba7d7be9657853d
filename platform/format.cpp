// wvsprintfA / wsprintfA with the conventions of the Windows user32 routines:
//   %[-][#][0][width][.precision][l|h|w|I|I64|I32]type, type one of c C d i u x X s S p, the
//   flags in that order;
//   integers are read as 32-bit ints unless I64 (64-bit) or I / p (pointer-sized) says otherwise,
//   so %ld, %lu and %lx take a DWORD or LONG even where long is 64 bits;
//   the sign counts towards the precision ("%.3d" of -5 is "-05"), a '0' flag turns the width into
//   zero padding also when a precision is given, the "0x" of '#' stands outside the width, and a
//   precision of 0 means none; no '+', ' ' or '*', no floating point;
//   %p is the pointer's value as 2 * sizeof(void*) upper-case hex digits (16 on 64-bit hosts);
//   a NULL string prints "(null)"; an unknown conversion prints its own character; %S, %ls and
//   %lc take UTF-16 text and write it as UTF-8.
// The output is bounded at 1024 characters with the NUL; the result is the count written before
// the NUL.
#include <cstring>
#include <string>

#include "platform/host_state.h"

namespace {

constexpr size_t kOutputLimit = 1024;   // characters, NUL included
constexpr unsigned kFieldLimit = 1024;  // widths and precisions beyond this cannot show

enum class Type { kChar, kWideChar, kString, kWideString, kSigned, kUnsigned, kHex, kUnknown };
enum class Size { kInt, kInt64, kPointer };

struct Conversion {
  bool left = false;
  bool prefix = false;
  bool zero = false;
  bool upper = false;
  bool shortSize = false;
  bool longSize = false;
  bool wideSize = false;
  Size size = Size::kInt;
  unsigned width = 0;
  unsigned precision = 0;
  Type type = Type::kUnknown;
};

unsigned ReadNumber(const char*& p) {
  unsigned value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > kFieldLimit) value = kFieldLimit;
    ++p;
  }
  return value;
}

// Parses the conversion after its '%'. Leaves `p` behind the type character, or on an unknown
// one, which the caller then prints as ordinary text.
Conversion Parse(const char*& p) {
  Conversion conversion;
  // Flags in this order only, each at most once.
  if (*p == '-') conversion.left = true, ++p;
  if (*p == '#') conversion.prefix = true, ++p;
  if (*p == '0') conversion.zero = true, ++p;
  conversion.width = ReadNumber(p);
  if (*p == '.') {
    ++p;
    conversion.precision = ReadNumber(p);
  }
  if (*p == 'l') {
    conversion.longSize = true, ++p;
  } else if (*p == 'h') {
    conversion.shortSize = true, ++p;
  } else if (*p == 'w') {
    conversion.wideSize = true, ++p;
  } else if (*p == 'I') {
    if (p[1] == '6' && p[2] == '4') {
      conversion.size = Size::kInt64, p += 3;
    } else if (p[1] == '3' && p[2] == '2') {
      p += 3;
    } else {
      conversion.size = Size::kPointer, ++p;
    }
  }
  switch (*p) {
    case 'c':
      conversion.type = conversion.longSize ? Type::kWideChar : Type::kChar;
      break;
    case 'C':
      conversion.type = conversion.shortSize ? Type::kChar : Type::kWideChar;
      break;
    case 'd':
    case 'i':
      conversion.type = Type::kSigned;
      break;
    case 'u':
      conversion.type = Type::kUnsigned;
      break;
    case 's':
      conversion.type =
          (conversion.longSize || conversion.wideSize) ? Type::kWideString : Type::kString;
      break;
    case 'S':
      conversion.type =
          (conversion.shortSize || conversion.wideSize) ? Type::kString : Type::kWideString;
      break;
    case 'p':
      conversion.width = 2 * sizeof(void*);
      conversion.zero = true;
      conversion.size = Size::kPointer;
      conversion.upper = true;
      conversion.type = Type::kHex;
      break;
    case 'X':
      conversion.upper = true;
      conversion.type = Type::kHex;
      break;
    case 'x':
      conversion.type = Type::kHex;
      break;
    default:
      conversion.type = Type::kUnknown;
      return conversion;  // the character is not consumed
  }
  ++p;
  return conversion;
}

class Output {
 public:
  explicit Output(char* buffer) : buffer_(buffer) {}
  bool Full() const { return count_ >= kOutputLimit - 1; }
  void Put(char c) {
    if (!Full()) buffer_[count_++] = c;
  }
  void Put(const char* text, size_t length) {
    for (size_t i = 0; i < length && !Full(); ++i) buffer_[count_++] = text[i];
  }
  void Spaces(unsigned from, unsigned to) {
    for (unsigned i = from; i < to; ++i) Put(' ');
  }
  int Finish() {
    buffer_[count_] = '\0';
    return static_cast<int>(count_);
  }

 private:
  char* buffer_;
  size_t count_ = 0;
};

}  // namespace

int WINAPI wvsprintfA(LPSTR lpOutput, LPCSTR lpFmt, va_list arglist) {
  if (!lpOutput) return 0;
  Output out(lpOutput);
  if (!lpFmt) return out.Finish();
  va_list args;
  va_copy(args, arglist);
  const char* p = lpFmt;
  while (*p && !out.Full()) {
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    ++p;
    if (*p == '%') {
      out.Put(*p++);
      continue;
    }
    Conversion conversion = Parse(p);
    if (conversion.left) conversion.zero = false;

    // A field is prefix ("0x" or '-'), zeros and body; `used` is what the padding counts: for
    // numbers all but the "0x" of '#'. Nothing is allocated except for UTF-16 text.
    const char* prefix = "";
    unsigned zeros = 0;
    const char* body = "";
    size_t bodyLength = 0;
    unsigned used = 0;
    char character;
    char digits[24];
    std::string wide;
    auto clamp = [](size_t length) {
      return static_cast<unsigned>(length < kFieldLimit ? length : kFieldLimit);
    };
    switch (conversion.type) {
      case Type::kChar:
        character = static_cast<char>(va_arg(args, int));
        body = &character;
        bodyLength = used = 1;
        break;
      case Type::kWideChar: {
        const char16_t c = static_cast<char16_t>(va_arg(args, int));
        wide = platform_impl::Utf16ToUtf8(std::u16string_view(&c, 1));
        body = wide.data();
        bodyLength = wide.size();
        used = clamp(bodyLength);
        break;
      }
      case Type::kString:
      case Type::kWideString: {
        const void* argument = va_arg(args, const void*);
        const unsigned limit = conversion.precision;  // 0: none
        if (!argument || conversion.type == Type::kString) {
          body = argument ? static_cast<const char*>(argument) : "(null)";
          while ((limit == 0 || bodyLength < limit) && body[bodyLength]) ++bodyLength;
        } else {
          const auto* text = static_cast<const WCHAR*>(argument);
          size_t length = 0;
          while ((limit == 0 || length < limit) && text[length]) ++length;
          wide = platform_impl::Utf16ToUtf8(std::u16string_view(text, length));
          body = wide.data();
          bodyLength = wide.size();
        }
        used = clamp(bodyLength);
        break;
      }
      case Type::kSigned:
      case Type::kUnsigned:
      case Type::kHex: {
        long long value;
        if (conversion.size == Size::kInt64) {
          value = va_arg(args, long long);
        } else if (conversion.size == Size::kPointer) {
          value = static_cast<long long>(va_arg(args, intptr_t));
        } else {
          value = va_arg(args, int);
        }
        unsigned long long magnitude = static_cast<unsigned long long>(value);
        const bool negative = conversion.type == Type::kSigned && value < 0;
        if (negative) magnitude = 0ull - magnitude;
        if (conversion.size == Size::kInt) magnitude &= 0xFFFFFFFFull;
        if (conversion.size == Size::kPointer) magnitude &= static_cast<uintptr_t>(~uintptr_t{0});
        const unsigned base = conversion.type == Type::kHex ? 16 : 10;
        const char* set = conversion.upper ? "0123456789ABCDEF" : "0123456789abcdef";
        char* end = digits + sizeof(digits);
        char* first = end;
        do {
          *--first = set[magnitude % base];
          magnitude /= base;
        } while (magnitude != 0);
        body = first;
        bodyLength = static_cast<size_t>(end - first);
        const unsigned length = static_cast<unsigned>(bodyLength) + (negative ? 1 : 0);
        used = conversion.precision > length ? conversion.precision : length;
        if (conversion.zero && conversion.width > used) used = conversion.width;
        zeros = used - length;
        if (negative) prefix = "-";
        if (conversion.type == Type::kHex && conversion.prefix) {
          prefix = conversion.upper ? "0X" : "0x";
        }
        break;
      }
      case Type::kUnknown:
        // Windows pads an unknown conversion on the left and then prints its character as text.
        if (!conversion.left) out.Spaces(conversion.precision, conversion.width);
        continue;
    }
    if (!conversion.left) out.Spaces(used, conversion.width);
    out.Put(prefix, std::strlen(prefix));
    for (unsigned i = 0; i < zeros; ++i) out.Put('0');
    out.Put(body, bodyLength);
    if (conversion.left) out.Spaces(used, conversion.width);
  }
  va_end(args);
  return out.Finish();
}

int WINAPI wsprintfA(LPSTR lpOutput, LPCSTR lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  const int written = wvsprintfA(lpOutput, lpFmt, args);
  va_end(args);
  return written;
}
