#include <cstdint>
#include <string>
#include <vector>

#include "prepare/cartridges.h"
#include "prepare/ink_level.h"
#include "tests/support/monitor_test.h"

namespace langmon_test {
namespace {

using InkLevelTest = MonitorTest;

constexpr DWORD kColorLimit = 515000000;
constexpr DWORD kColorHardLimit = 828000000;

// Counts are logged through %ld, so as signed 32-bit values.
std::string Line(const char* step, DWORD spits, DWORD limit) {
  return Inform(std::string("CheckInkLevel ") + step +
                " spits: " + std::to_string(static_cast<int32_t>(spits)) +
                ", max: " + std::to_string(static_cast<int32_t>(limit)) + "\n");
}
const char* const kLow = "Passing warn level 1";
const char* const kAtLimit = "Passing warn level 2";
const char* const kOver = "Passing warn level 3";
const char* const kJustOver = "Negspits but not yet at warn level3";

struct InkCase {
  DWORD spits;
  DWORD limit;
  DWORD hardLimit;
  INT given;
  INT expected;
  const char* logged;  // nullptr: nothing logged
};

void ExpectInkCases(const std::vector<InkCase>& cases) {
  for (const InkCase& c : cases) {
    host::ClearDebugOutput();
    EXPECT_EQ(CheckInkLevel(c.spits, c.limit, c.hardLimit, c.given), c.expected)
        << c.spits << " of " << c.limit << " at level " << c.given;
    const std::vector<std::string> expectedLog =
        c.logged ? std::vector<std::string>{Line(c.logged, c.spits, c.limit)}
                 : std::vector<std::string>{};
    EXPECT_EQ(host::DebugOutput(), expectedLog)
        << c.spits << " of " << c.limit << " at level " << c.given;
  }
}

TEST_F(InkLevelTest, ColourDefaults) {
  ExpectInkCases({
      {100000000, kColorLimit, kColorHardLimit, 1, 1, nullptr},  // 81 % left
      {460000000, kColorLimit, kColorHardLimit, 1, 1, nullptr},  // 11 % left
      {463000000, kColorLimit, kColorHardLimit, 1, 2, kLow},     // 10 % left
      {460000000, kColorLimit, kColorHardLimit, 2, 2, nullptr},
      {514000000, kColorLimit, kColorHardLimit, 1, 2, kLow},  // nothing left, but low comes first
      {514000000, kColorLimit, kColorHardLimit, 2, 3, kAtLimit},
      {515000000, kColorLimit, kColorHardLimit, 2, 3, kAtLimit},
      {540000000, kColorLimit, kColorHardLimit, 2, 3, kJustOver},  // 5 % over
      {540000000, kColorLimit, kColorHardLimit, 3, 3, nullptr},
      {600000000, kColorLimit, kColorHardLimit, 3, 4, kOver},  // 14 % over
      {600000000, kColorLimit, kColorHardLimit, 4, 4, nullptr},
      {828000000, kColorLimit, kColorHardLimit, 4, 4, nullptr},  // at the hard limit, not above
      {828000001, kColorLimit, kColorHardLimit, 1, 5, nullptr},
      {100000000, kColorLimit, kColorHardLimit, 0, 0, nullptr},
  });
}

TEST_F(InkLevelTest, PercentagesRoundHalfUp) {
  ExpectInkCases({
      {896, 1000, 5000, 1, 2, kLow},        // 10.4 % left counts as 10
      {895, 1000, 5000, 1, 1, nullptr},     // 10.5 % left counts as 11
      {996, 1000, 5000, 2, 3, kAtLimit},    // 0.4 % left counts as 0
      {995, 1000, 5000, 2, 2, nullptr},     // 0.5 % left counts as 1
      {1104, 1000, 5000, 1, 3, kJustOver},  // 9.42 % of the count over: 9
      {1105, 1000, 5000, 1, 4, kOver},      // 9.50 % of the count over: 10
  });
}

TEST_F(InkLevelTest, ZeroLimit) {
  ExpectInkCases({
      {0, 0, 100, 1, 2, kLow},  // 0 ÷ 0 counts as nothing left
      {0, 0, 100, 2, 3, kAtLimit},
      {0, 0, 100, 3, 3, nullptr},
      {1, 0, 100, 1, 4, kOver},  // anything is 100 % over
      {1, 0, 100, 3, 4, kOver},
      {1, 0, 100, 4, 4, nullptr},
  });
}

TEST_F(InkLevelTest, NeverLowersAGivenLevelBelowTheHardLimit) {
  ExpectInkCases({
      {0, kColorLimit, kColorHardLimit, 4, 4, nullptr},  // another cartridge, level never reset
      {0, kColorLimit, kColorHardLimit, -3, -3, nullptr},
      {514000000, kColorLimit, kColorHardLimit, -3, 2, kLow},
      {514000000, kColorLimit, kColorHardLimit, 4, 4, nullptr},
      {540000000, kColorLimit, kColorHardLimit, 4, 4, nullptr},
      {0xFFFFFFFF, kColorLimit, 0xFFFFFFFF, 3, 4, kOver},
      {0xFFFFFFFF, kColorLimit, kColorHardLimit, 7, 5, nullptr},
  });
}

using CartridgesTest = MonitorTest;

TEST_F(CartridgesTest, ClassifiesTheCartridgeStateNibble) {
  struct Case {
    BYTE cartStatus;
    INT expected;
    const char* logged;
  };
  const Case cases[] = {
      {0x1F, 6, "Invalid cartridge installed = 31\n"},
      {0x10, 6, "Invalid cartridge installed = 16\n"},
      {0x25, 5, "No cartridge installed\n"},
      {0x50, 0, " ** Cartridges are ok\n"},
      {0x00, 0, " ** Cartridges are ok\n"},
      {0xF2, 0, " ** Cartridges are ok\n"},  // only the high nibble counts
  };
  for (const Case& c : cases) {
    ClearLog();
    StatusRecord status = {};
    status.bCartStatus = c.cartStatus;
    EXPECT_EQ(CheckCartridges(&status), c.expected) << int{c.cartStatus};
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{Inform("In CheckCartridges\n"), Inform(c.logged)}))
        << int{c.cartStatus};
  }
}

}  // namespace
}  // namespace langmon_test
