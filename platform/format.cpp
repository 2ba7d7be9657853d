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

struct Spec {
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
Spec Parse(const char*& p) {
  Spec spec;
  // Flags in this order only, each at most once.
  if (*p == '-') spec.left = true, ++p;
  if (*p == '#') spec.prefix = true, ++p;
  if (*p == '0') spec.zero = true, ++p;
  spec.width = ReadNumber(p);
  if (*p == '.') {
    ++p;
    spec.precision = ReadNumber(p);
  }
  if (*p == 'l') {
    spec.longSize = true, ++p;
  } else if (*p == 'h') {
    spec.shortSize = true, ++p;
  } else if (*p == 'w') {
    spec.wideSize = true, ++p;
  } else if (*p == 'I') {
    if (p[1] == '6' && p[2] == '4') {
      spec.size = Size::kInt64, p += 3;
    } else if (p[1] == '3' && p[2] == '2') {
      p += 3;
    } else {
      spec.size = Size::kPointer, ++p;
    }
  }
  switch (*p) {
    case 'c':
      spec.type = spec.longSize ? Type::kWideChar : Type::kChar;
      break;
    case 'C':
      spec.type = spec.shortSize ? Type::kChar : Type::kWideChar;
      break;
    case 'd':
    case 'i':
      spec.type = Type::kSigned;
      break;
    case 'u':
      spec.type = Type::kUnsigned;
      break;
    case 's':
      spec.type = (spec.longSize || spec.wideSize) ? Type::kWideString : Type::kString;
      break;
    case 'S':
      spec.type = (spec.shortSize || spec.wideSize) ? Type::kString : Type::kWideString;
      break;
    case 'p':
      spec.width = 2 * sizeof(void*);
      spec.zero = true;
      spec.size = Size::kPointer;
      spec.upper = true;
      spec.type = Type::kHex;
      break;
    case 'X':
      spec.upper = true;
      spec.type = Type::kHex;
      break;
    case 'x':
      spec.type = Type::kHex;
      break;
    default:
      spec.type = Type::kUnknown;
      return spec;  // the character is not consumed
  }
  ++p;
  return spec;
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
    Spec spec = Parse(p);
    if (spec.left) spec.zero = false;

    // The text of the field and its length for padding ("used"): for numbers the digits with
    // the sign and the zeros before them, without the "0x" of '#'.
    std::string text;
    unsigned used = 0;
    switch (spec.type) {
      case Type::kChar:
        text.assign(1, static_cast<char>(va_arg(args, int)));
        used = 1;
        break;
      case Type::kWideChar: {
        const char16_t c = static_cast<char16_t>(va_arg(args, int));
        text = platform_impl::Utf16ToUtf8(std::u16string_view(&c, 1));
        used = static_cast<unsigned>(text.size());
        break;
      }
      case Type::kString: {
        const char* s = va_arg(args, const char*);
        if (!s) s = "(null)";
        size_t length = 0;
        while ((spec.precision == 0 || length < spec.precision) && s[length]) ++length;
        text.assign(s, length);
        used = static_cast<unsigned>(length < kFieldLimit ? length : kFieldLimit);
        break;
      }
      case Type::kWideString: {
        const WCHAR* s = va_arg(args, const WCHAR*);
        if (!s) {
          text = "(null)";
          if (spec.precision != 0 && spec.precision < text.size()) text.resize(spec.precision);
        } else {
          size_t length = 0;
          while ((spec.precision == 0 || length < spec.precision) && s[length]) ++length;
          text = platform_impl::Utf16ToUtf8(std::u16string_view(s, length));
        }
        used = static_cast<unsigned>(text.size() < kFieldLimit ? text.size() : kFieldLimit);
        break;
      }
      case Type::kSigned:
      case Type::kUnsigned:
      case Type::kHex: {
        long long value;
        if (spec.size == Size::kInt64) {
          value = va_arg(args, long long);
        } else if (spec.size == Size::kPointer) {
          value = static_cast<long long>(va_arg(args, intptr_t));
        } else {
          value = va_arg(args, int);
        }
        unsigned long long magnitude = static_cast<unsigned long long>(value);
        const bool negative = spec.type == Type::kSigned && value < 0;
        if (negative) magnitude = 0ull - magnitude;
        if (spec.size == Size::kInt) magnitude &= 0xFFFFFFFFull;
        if (spec.size == Size::kPointer) magnitude &= static_cast<uintptr_t>(~uintptr_t{0});
        const unsigned base = spec.type == Type::kHex ? 16 : 10;
        const char* digits = spec.upper ? "0123456789ABCDEF" : "0123456789abcdef";
        char reversed[24];
        size_t count = 0;
        do {
          reversed[count++] = digits[magnitude % base];
          magnitude /= base;
        } while (magnitude != 0);
        const unsigned length = static_cast<unsigned>(count) + (negative ? 1 : 0);
        used = spec.precision > length ? spec.precision : length;
        if (spec.zero && spec.width > used) used = spec.width;
        if (spec.type == Type::kHex && spec.prefix) text += spec.upper ? "0X" : "0x";
        if (negative) text += '-';
        text.append(used - length, '0');
        while (count > 0) text += reversed[--count];
        break;
      }
      case Type::kUnknown:
        // Windows pads an unknown conversion on the left and then prints its character as text.
        if (!spec.left) out.Spaces(spec.precision, spec.width);
        continue;
    }
    if (!spec.left) out.Spaces(used, spec.width);
    out.Put(text.data(), text.size());
    if (spec.left) out.Spaces(used, spec.width);
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
