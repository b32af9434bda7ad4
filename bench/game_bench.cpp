// Figures for the work the game repeats: the start-up count, loading a record
// (the file is read from its first line every time), the profile lookup and the
// rewrite of a score file. Run it by hand; it asserts nothing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/run_state.h"
#include "profiles/profile_store.h"
#include "questions/question_db.h"

namespace {

// A scratch folder for the game's files, entered for the whole run.
void enterScratchFolder() {
    static char folder[] = "/tmp/pzbench.XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
}

void writeDatabase(int records) {
    std::ofstream db(kDatabaseFile, std::ios::trunc);
    std::string answer(60, 'a');
    for (int n = 1; n <= records; ++n) {
        db << "Question " << n << std::string(80, 'q') << '\n';
        for (int a = 0; a < 4; ++a) db << answer << '\n';
        db << (n <= 25 ? "1 2 3 4" : "2") << '\n';
    }
}

void writeScoreFile(int records) {
    std::ofstream score(kScoreFile, std::ios::trunc);
    for (int n = 0; n < records; ++n) score << "\nplayer" << n << " 3 40 35 label1 label2";
}

void countDatabase(benchmark::State& state) {
    writeDatabase(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(countQuestions());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void loadLastRecord(benchmark::State& state) {
    int records = static_cast<int>(state.range(0));
    writeDatabase(records);
    for (auto _ : state) benchmark::DoNotOptimize(loadQuestionRecord(records, TestKind::Intellect));
}

void lookUpLastPlayer(benchmark::State& state) {
    int records = static_cast<int>(state.range(0));
    writeScoreFile(records);
    std::string last = "player" + std::to_string(records - 1);
    for (auto _ : state) benchmark::DoNotOptimize(loadProfile(last.c_str()));
}

void rewriteScoreFile(benchmark::State& state) {
    writeDatabase(60);  // the writers' lock lives on the database
    writeScoreFile(static_cast<int>(state.range(0)));
    std::strcpy(runState.playerProfile.name, "player0");
    runState.playerProfile.attempts = 4;
    for (auto _ : state) benchmark::DoNotOptimize(saveProfile("player0", ScoreLookup{Lookup::Found, false, {}, 0, 0, 0}));
}

}  // namespace

BENCHMARK(countDatabase)->Arg(200)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(loadLastRecord)->Arg(200)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(lookUpLastPlayer)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(rewriteScoreFile)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    enterScratchFolder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
