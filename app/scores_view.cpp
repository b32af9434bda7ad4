// Printing the results table. Columns are as wide as their widest entry among the
// rows shown; bytes a terminal would act on (control bytes in a hand-edited
// record) are shown as '?', so a planted name cannot steer the screen.
#include "app/scores_view.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/cp1251.h"
#include "core/run_state.h"
#include "io/byte_reader.h"
#include "platform/platform.h"
#include "profiles/score_table.h"

namespace {

constexpr int kColumns = 8;
using Row = std::string[kColumns];
// Place, name, games, right, wrong, average, the two labels; which are flush right.
constexpr bool kRightAligned[kColumns] = {true, false, true, true, true, true, false, false};

std::string shownText(const char* text) {
    std::string shown(text);
    for (char& byte : shown) {
        if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) byte = '?';
    }
    return shown;
}

// The average of right answers per game with one decimal, rounded half away
// from zero, with a decimal comma; "-" for a record without a game.
std::string averageText(const PlayerProfile& player) {
    if (player.attempts <= 0) return "-";
    std::int64_t tenths = (std::int64_t{player.correctTotal} * 20 / player.attempts);
    tenths = (tenths + (tenths < 0 ? -1 : 1)) / 2;
    std::int64_t whole = (tenths < 0 ? -tenths : tenths);
    return std::string(tenths < 0 ? "-" : "") + std::to_string(whole / 10) + "," + std::to_string(whole % 10);
}

void fillRow(Row& row, std::int64_t place, const PlayerProfile& player) {
    row[0] = std::to_string(place);
    row[1] = shownText(player.name);
    row[2] = std::to_string(player.attempts);
    row[3] = std::to_string(player.correctTotal);
    row[4] = std::to_string(player.wrongTotal);
    row[5] = averageText(player);
    row[6] = shownText(player.intellectLabel);
    row[7] = shownText(player.characterLabel);
}

// Appends the row, each column padded to its width, two blanks between them and
// none after the last.
void appendRow(std::string& out, const Row& row, const std::size_t (&width)[kColumns]) {
    for (int column = 0; column < kColumns; ++column) {
        std::size_t pad = width[column] - row[column].size();
        bool last = column == kColumns - 1;
        if (kRightAligned[column]) out.append(pad, ' ');
        out += row[column];
        if (!kRightAligned[column] && !last) out.append(pad, ' ');
        out += last ? "\n" : "  ";
    }
}

std::string formatTable(const ScoreTable& table) {
    std::vector<Row> rows(table.best.size() + 1);
    const char* header[kColumns] = {"Место"_cp,   "Имя"_cp,     "Игр"_cp,       "Верно"_cp,
                                    "Неверно"_cp, "Среднее"_cp, "Интеллект"_cp, "Характер"_cp};
    for (int column = 0; column < kColumns; ++column) rows[0][column] = header[column];
    for (std::size_t at = 0; at < table.best.size(); ++at) fillRow(rows[at + 1], at + 1, table.best[at]);
    std::size_t width[kColumns] = {};
    for (const Row& row : rows) {
        for (int column = 0; column < kColumns; ++column) width[column] = std::max(width[column], row[column].size());
    }
    std::string out;
    for (const Row& row : rows) appendRow(out, row, width);
    return out;
}

std::string formatFooter(const ScoreTable& table) {
    std::string out;
    if (table.players > static_cast<std::int64_t>(table.best.size())) {
        out += "Показаны лучшие "_cp + std::to_string(table.best.size()) + " из "_cp +
               std::to_string(table.players) + ".\n";
    }
    if (table.unreadable > 0) out += "Нечитаемых записей: "_cp + std::to_string(table.unreadable) + ".\n";
    return out;
}

int reportUnreadable(platform::FileHandle file) {
    std::fprintf(stderr, "prozorometr: cannot read %s: %s\n", kScoreFile, platform::lastErrorText());
    if (file != platform::kNoFile) platform::closeFile(file);
    return 1;
}

}  // namespace

int showScores(std::size_t limit) {
    platform::prepareStandardStreams();  // bytes out as they are, on Windows too
    platform::FileHandle file = platform::openForReading(kScoreFile, platform::Links::Refuse);
    if (file == platform::kNoFile) return reportUnreadable(file);
    ScoreTable table;
    {
        ByteReader in(file);
        table = rankPlayers(in, limit);
        if (in.failed()) return reportUnreadable(file);
    }
    platform::closeFile(file);
    std::string out = table.players == 0 ? std::string("Игроков пока нет.\n"_cp) : formatTable(table);
    out += formatFooter(table);
    bool written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
    if (!written) std::fprintf(stderr, "prozorometr: cannot write the table\n");
    return written ? 0 : 1;
}
