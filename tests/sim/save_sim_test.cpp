// The save protocol under the simulator. Seeded schedules of 2 to 4 games with
// faults of every kind, then every schedule of two games in which one stops
// once, at each of its calls in turn; and each safety step, turned off, must
// let the simulator find a broken rule.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "lock/save_safety.h"
#include "tests/sim/sim.h"

#ifndef PZ_SIM_SCHEDULES
#define PZ_SIM_SCHEDULES 100000
#endif

namespace {

// The games' own lines (a lookup that cannot read, say) are not this test's: they
// go to the null device while schedules run.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(2)) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    ~QuietStderr() {
        dup2(saved_, 2);
        close(saved_);
    }

private:
    int saved_;
};

// The first schedule among seeds from..to that breaks a rule, or nothing; with
// seconds, the search ends then too. runs counts the schedules run.
sim::Finding firstFinding(std::uint64_t from, std::uint64_t to, double seconds = 0, std::uint64_t* runs = nullptr) {
    QuietStderr quiet;
    auto start = std::chrono::steady_clock::now();
    for (std::uint64_t seed = from; seed < to; ++seed) {
        sim::Finding finding = sim::runSchedule(sim::randomSchedule(seed));
        if (runs != nullptr) *runs = seed - from + 1;
        if (!finding.ok) return finding;
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (seconds > 0 && took.count() >= seconds) break;
    }
    return sim::Finding{};
}

std::uint64_t setting(const char* name, std::uint64_t otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::strtoull(value, nullptr, 10) : otherwise;
}

// Every two-game schedule where one game stops once, at each of its calls in
// turn: long enough to be judged stopped, and longer than any wait.
sim::Finding firstStopFinding() {
    QuietStderr quiet;
    LockTimes times = sim::simulatedTimes();
    for (sim::Medium medium : {sim::Medium::Local, sim::Medium::Share, sim::Medium::NoLinks}) {
        for (int stored = 0; stored < 4; ++stored) {
            for (int stopped = 0; stopped < 2; ++stopped) {
                sim::Schedule base;
                base.seed = 1;
                base.medium = medium;
                base.switchChance = 0;
                base.players = {{"Anya", (stored & 1) != 0, stopped == 0 ? 0 : 1, 0},
                                {"Borya", (stored & 2) != 0, stopped == 1 ? 0 : 1, 0}};
                int calls = sim::callsOf(base, stopped);
                for (int call = 0; call < calls; ++call) {
                    for (int ms : {times.staleMs + 3 * times.beatMs, 2 * times.waitMs}) {
                        sim::Schedule schedule = base;
                        schedule.faults = {sim::Fault{sim::Event::Stop, stopped, call, ms}};
                        sim::Finding finding = sim::runSchedule(schedule);
                        if (!finding.ok) return finding;
                    }
                }
            }
        }
    }
    return sim::Finding{};
}

}  // namespace

// PZ_SIM_SEED=N runs the one schedule of seed N, every call traced on stdout.
TEST(SaveSimulator, OneSeedTraced) {
    const char* seed = std::getenv("PZ_SIM_SEED");
    if (seed == nullptr) GTEST_SKIP() << "PZ_SIM_SEED names no schedule to trace";
    sim::Finding finding = sim::runSchedule(sim::randomSchedule(std::strtoull(seed, nullptr, 10)), stdout);
    EXPECT_TRUE(finding.ok) << finding.what;
}

// PZ_SIM_FIRST_SEED, PZ_SIM_SCHEDULES and PZ_SIM_SECONDS move the seeds and bound
// the run (scripts/fuzz.sh --long draws them at random).
TEST(SaveSimulator, SeededSchedulesBreakNoRule) {
    auto start = std::chrono::steady_clock::now();
    std::uint64_t first = setting("PZ_SIM_FIRST_SEED", 1), runs = 0;
    sim::Finding finding = firstFinding(first, first + setting("PZ_SIM_SCHEDULES", PZ_SIM_SCHEDULES),
                                        static_cast<double>(setting("PZ_SIM_SECONDS", 0)), &runs);
    EXPECT_TRUE(finding.ok) << finding.what;
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%llu schedules from seed %llu in %.1f s\n", static_cast<unsigned long long>(runs),
                static_cast<unsigned long long>(first), took.count());
}

TEST(SaveSimulator, OneGameStoppedAtEachCallBreaksNoRule) {
    sim::Finding finding = firstStopFinding();
    EXPECT_TRUE(finding.ok) << finding.what;
}

TEST(SaveSimulator, EachSafetyStepIsNeeded) {
#if PZ_SIM_SCHEDULES < 100000
    GTEST_SKIP() << "a search for what the protocol needs, not for memory faults: the plain build runs it";
#endif
    struct Step {
        const char* what;
        bool SaveSafety::*flag;
    };
    const Step steps[] = {
        {"the system's lock", &SaveSafety::systemLock},
        {"the heartbeat", &SaveSafety::heartbeat},
        {"the queue", &SaveSafety::queue},
        {"clearing left copies", &SaveSafety::clearLeftCopies},
        {"the lock's check before a commit", &SaveSafety::checkLockBeforeCommit},
        {"confirming an append", &SaveSafety::confirmAppend},
        {"checking what a rewrite replaced", &SaveSafety::checkReplaced},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        saveSafety = SaveSafety{};
        saveSafety.*step.flag = false;
        sim::Finding finding = firstStopFinding();
        if (finding.ok) finding = firstFinding(1, 50001);
        EXPECT_FALSE(finding.ok) << "the simulator finds nothing wrong without " << step.what;
        if (!finding.ok) std::printf("without %s:\n%s", step.what, finding.what.c_str());
    }
    saveSafety = SaveSafety{};
}
