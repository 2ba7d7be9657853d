// The stand-in private-profile reader and writer on arbitrary files and arguments.
//
// The file is either arbitrary bytes or lines built from a few short names (so that sections
// and keys the calls ask for are really there), with arbitrary bytes mixed in. The calls read
// and write with names and values from the input, including NULL ones.
//
// Properties: nothing crashes or leaks; a number written under a plain section and key reads back
// as written; a write leaves every other key it does not touch reading as before.
#include <fstream>

#include "fuzz/fuzz_host.h"

namespace {

constexpr size_t kProbes = 4;

// Names from a small alphabet: some meet each other, some differ only in case or blanks.
std::string NameFromInput(FuzzedDataProvider& input) {
  static constexpr char kAlphabet[] = "abAB_1";
  std::string name;
  const size_t length = input.ConsumeIntegralInRange<size_t>(1, 3);
  for (size_t i = 0; i < length; ++i) {
    name.push_back(kAlphabet[input.ConsumeIntegralInRange<size_t>(0, sizeof(kAlphabet) - 2)]);
  }
  return name;
}

std::string FileFromInput(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) {
    return input.ConsumeRandomLengthString(4096);
  }
  static const char* const kEnds[] = {"\n", "\r\n", "", "\r"};
  std::string file;
  const size_t lines = input.ConsumeIntegralInRange<size_t>(0, 24);
  for (size_t i = 0; i < lines; ++i) {
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        file += "[" + NameFromInput(input) + "]";
        break;
      case 1:
      case 2:
        file += NameFromInput(input) + "=" + std::to_string(input.ConsumeIntegral<int>());
        break;
      case 3:
        file += " " + NameFromInput(input) + " = \"" +
                std::to_string(input.ConsumeIntegral<int>()) + "\" ";
        break;
      default:
        file += input.ConsumeRandomLengthString(16);
        break;
    }
    file += kEnds[input.ConsumeIntegralInRange<size_t>(0, 3)];
  }
  return file;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Any UTF-16 text, unpaired surrogates and all.
std::u16string AnyWide(FuzzedDataProvider& input) {
  std::u16string text;
  const size_t length = input.ConsumeIntegralInRange<size_t>(0, 8);
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = input.ConsumeIntegral<char16_t>();
    if (c != 0) {
      text.push_back(c);
    }
  }
  return text;
}

std::string Folded(std::string name) {
  for (char& c : name) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return name;
}

struct Key {
  std::string section;
  std::string key;
};

// Read twice with different defaults: a missing key answers with each default.
std::pair<UINT, UINT> ReadKey(const Key& key, const std::u16string& file) {
  const std::u16string section = Wide(key.section);
  const std::u16string name = Wide(key.key);
  return {GetPrivateProfileIntW(section.c_str(), name.c_str(), -5, file.c_str()),
          GetPrivateProfileIntW(section.c_str(), name.c_str(), 77, file.c_str())};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  langmon_fuzz::StartRun();
  FuzzedDataProvider input(data, size);
  const std::filesystem::path path = langmon_fuzz::ScratchFolder() / "settings.ini";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << FileFromInput(input);
  }
  const std::u16string file = Wide(path.string());
  const langmon_fuzz::LeakCheck leaks;

  Key target{NameFromInput(input), NameFromInput(input)};
  Key probes[kProbes];
  std::pair<UINT, UINT> before[kProbes];
  for (size_t i = 0; i < kProbes; ++i) {
    probes[i] = {NameFromInput(input), NameFromInput(input)};
    before[i] = ReadKey(probes[i], file);
  }

  const std::u16string section = Wide(target.section);
  const std::u16string key = Wide(target.key);
  switch (input.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: {
      // A number under a plain section and key reads back as written; other keys keep theirs.
      const int value = input.ConsumeIntegral<int>();
      const std::u16string text = Wide(std::to_string(value));
      FUZZ_CHECK(
          WritePrivateProfileStringW(section.c_str(), key.c_str(), text.c_str(), file.c_str()));
      const std::pair<UINT, UINT> after = ReadKey(target, file);
      FUZZ_CHECK(after.first == static_cast<UINT>(value) && after.second == after.first);
      for (size_t i = 0; i < kProbes; ++i) {
        const bool same = Folded(probes[i].section) == Folded(target.section) &&
                          Folded(probes[i].key) == Folded(target.key);
        if (!same) {
          FUZZ_CHECK(ReadKey(probes[i], file) == before[i]);
        }
      }
      break;
    }
    case 1: {
      // Removing a key leaves the other keys alone.
      FUZZ_CHECK(WritePrivateProfileStringW(section.c_str(), key.c_str(), nullptr, file.c_str()));
      for (size_t i = 0; i < kProbes; ++i) {
        if (Folded(probes[i].key) != Folded(target.key)) {
          FUZZ_CHECK(ReadKey(probes[i], file) == before[i]);
        }
      }
      break;
    }
    case 2: {
      // Removing a section leaves the other sections alone.
      FUZZ_CHECK(WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, file.c_str()));
      for (size_t i = 0; i < kProbes; ++i) {
        if (Folded(probes[i].section) != Folded(target.section)) {
          FUZZ_CHECK(ReadKey(probes[i], file) == before[i]);
        }
      }
      break;
    }
    default: {
      // Anything at all, NULL included, in every argument.
      const std::u16string anySection = AnyWide(input);
      const std::u16string anyKey = AnyWide(input);
      const std::u16string anyValue = AnyWide(input);
      const uint8_t nulls = input.ConsumeIntegral<uint8_t>();
      const WCHAR* s = (nulls & 1) ? nullptr : anySection.c_str();
      const WCHAR* k = (nulls & 2) ? nullptr : anyKey.c_str();
      const WCHAR* v = (nulls & 4) ? nullptr : anyValue.c_str();
      WritePrivateProfileStringW(s, k, v, file.c_str());
      GetPrivateProfileIntW(s, k, 3, file.c_str());
      GetPrivateProfileIntW(s, k, 3, (nulls & 8) ? nullptr : file.c_str());
      break;
    }
  }
  leaks.Check();
  langmon_fuzz::EndRun();
  return 0;
}
