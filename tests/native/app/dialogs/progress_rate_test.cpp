// OnProgress: the update protocol's reports as stages, the transfer-rate
// line and the percent bar, on the virtual clock.
#include <cstdint>
#include <string>
#include <vector>

#include "support/progress_fixture.h"

namespace {

using Lines = std::vector<std::string>;

const int32_t N = 1000 * 1024;  // a package of 1000k
const char waitText[] = "status Wait for the device to update the firmware. This may take up to 10 min\r\n";

struct Step {
  const char *name;
  uint32_t tick;  // the clock when the report comes
  unsigned event;
  bool withPair;
  int32_t sent, total;
  Lines screen;
};

class ProgressRateTest : public ProgressTest {
 protected:
  // Runs the steps in order inside one progress dialog, each against what
  // it changed on the screen.
  void RunSteps(const std::vector<Step> &steps) {
    Run([&] {
      for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        fakeClock.tick = step.tick;
        SFProgressPair pair = {step.sent, step.total};
        size_t from = Mark();
        OnProgress(step.event, step.withPair ? &pair : nullptr);
        EXPECT_EQ(ScreenSince(from), step.screen);
      }
      EndProgress(PROGRESS_SUCCESS);
    });
  }
};

// Two packages of a delta chain: the clock restarts with each link, the
// average rate carries over.
TEST_F(ProgressRateTest, ChainOfTwoPackages) {
  RunSteps({
      {"link step 0", 1000, SF_EVENT_LINK_STEP_0, false, 0, 0, {"status Initialize the device\r\n", "stage 1"}},
      {"link step 1 shows nothing", 1000, SF_EVENT_LINK_STEP_1, false, 0, 0, {}},
      {"link step 2 shows nothing", 1000, SF_EVENT_LINK_STEP_2, false, 0, 0, {}},
      {"transfer starts", 1000, SF_EVENT_TRANSFER, false, 0, 0, {"status Send update package\r\n", "stage 2"}},
      {"the first sample only starts the clock", 1000, SF_EVENT_TRANSFER, true, 8192, N, {}},
      // 8192 bytes in 100 ms: 81920 bytes/s, 80k/s.
      {"the second shows the rate",
       1100, SF_EVENT_TRANSFER, true, 16384, N,
       {"status Send update package 16k/1000k\t 80 kbytes/sec\r\n", "percent bar 1", "percent text 1%"}},
      {"same tick: the old average",
       1100, SF_EVENT_TRANSFER, true, 24576, N,
       {"status Send update package 24k/1000k\t 80 kbytes/sec\r\n", "percent bar 2", "percent text 2%"}},
      // 40960 bytes in 50 ms: 800k/s, averaged with 80.
      {"the average moves halfway",
       1150, SF_EVENT_TRANSFER, true, 65536, N,
       {"status Send update package 64k/1000k\t 440 kbytes/sec\r\n", "percent bar 6", "percent text 6%"}},
      {"the final sample leaves the percent", 1200, SF_EVENT_TRANSFER, true, N, N,
       {"status Send update package done\r\n", "stage 3"}},
      {"a package file's load shows nothing", 1300, SF_EVENT_LOAD_FILE, false, 0, 0, {}},
      {"next package: link step 0", 5000, SF_EVENT_LINK_STEP_0, false, 0, 0, {"status Initialize the device\r\n", "stage 1"}},
      {"link step 1 forgets the last sample", 5000, SF_EVENT_LINK_STEP_1, false, 0, 0, {}},
      {"transfer starts again", 5000, SF_EVENT_TRANSFER, false, 0, 0, {"status Send update package\r\n", "stage 2"}},
      {"its first sample only starts the clock", 9000, SF_EVENT_TRANSFER, true, 8192, N, {}},
      // 80k/s again, averaged with the first package's 440.
      {"the average carries over",
       9100, SF_EVENT_TRANSFER, true, 16384, N,
       {"status Send update package 16k/1000k\t 260 kbytes/sec\r\n", "percent bar 1", "percent text 1%"}},
      {"waiting", 9200, SF_EVENT_WAITING, false, 0, 0, {waitText, "percent bar 0", "percent text 0%", "stage 5"}},
      {"other events show nothing", 9300, 3, false, 0, 0, {}},
      {"nor with a pair", 9300, 5, true, 1, 2, {}},
      {"nor a large one", 9300, 100, false, 0, 0, {}},
  });
}

TEST_F(ProgressRateTest, FinalSampleFirstOnlyStartsTheClock) {
  RunSteps({
      {"a package of one chunk", 1000, SF_EVENT_TRANSFER, true, 8192, 8192, {}},
      {"the next sample counts from it",
       1500, SF_EVENT_TRANSFER, true, 8192 + 4096, 16384,
       {"status Send update package 12k/16k\t 8 kbytes/sec\r\n", "percent bar 75", "percent text 75%"}},
  });
}

// The percent is taken without overflow however long the package; a pair
// without a total shows its line but no share of nothing.
TEST_F(ProgressRateTest, PercentOfLongAndEmptyPackages) {
  const int32_t big = 2100000000;
  RunSteps({
      {"start", 1000, SF_EVENT_TRANSFER, true, 1999990000, big, {}},
      // 10000 bytes in a second: 9k/s.
      {"nearly 2 GB",
       2000, SF_EVENT_TRANSFER, true, 2000000000, big,
       {"status Send update package 1953125k/2050781k\t 9 kbytes/sec\r\n", "percent bar 95", "percent text 95%"}},
      {"restart the clock", 3000, SF_EVENT_LINK_STEP_1, false, 0, 0, {}},
      {"start again", 3000, SF_EVENT_TRANSFER, true, 0, 0, {}},
      // 5 bytes in 100 ms are 0k/s, averaged with 9.
      {"no total", 3100, SF_EVENT_TRANSFER, true, 5, 0, {"status Send update package 0k/0k\t 4 kbytes/sec\r\n"}},
  });
}

}  // namespace
