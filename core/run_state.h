// The one process-wide record of a run: the player's profile, the question loaded
// last with its key, the questions asked so far and the character tallies. Sizes
// and file names that several parts of the game share are named here, once.
#pragma once

#include <cstdint>

inline constexpr int kIntellectPerRun = 25;    // questions of the intellect test
inline constexpr int kCharacterPerRun = 10;    // questions of the character test
inline constexpr int kCharacterRecords = 25;   // records 1..25 are character questions
inline constexpr int kAnswerCount = 4;         // answers per question
inline constexpr int kLinesPerRecord = 6;      // database lines of a question: itself, its answers, its key
inline constexpr int kCategoryCount = 4;       // character categories 1..4
inline constexpr int kLineSize = 250;          // every database line buffer
inline constexpr int kNameSize = 24;           // name text, terminator included
inline constexpr int kCharacterLabelSize = 21;
inline constexpr int kIntellectLabelSize = 27;

inline constexpr char kDatabaseFile[] = "pz2004.db";
inline constexpr char kScoreFile[] = "score.dat";
inline constexpr char kTempFile[] = "~pz2004.tmp";
inline constexpr char kLockFile[] = "~pz2004.lck";  // held while a game saves

struct CurrentQuestion {
    char questionText[kLineSize];
    char answers[kAnswerCount][kLineSize];
};

// The unit that the score file stores, field by field in this order.
struct PlayerProfile {
    char name[kNameSize];
    std::int32_t attempts;
    std::int32_t correctTotal;
    std::int32_t wrongTotal;
    char characterLabel[kCharacterLabelSize];
    char intellectLabel[kIntellectLabelSize];
};

struct RunState {
    std::int32_t categoryTally[kCategoryCount + 1];  // slot 0 belongs to no category
    std::int32_t askedIntellect[kIntellectPerRun];   // record numbers, 0 = free slot
    std::int32_t askedCharacter[kCharacterPerRun];
    std::int32_t intellectQuestionCount;
    CurrentQuestion currentQuestion;
    std::int32_t correctAnswer;
    std::int32_t answerCategory[kAnswerCount];
    PlayerProfile playerProfile;
};

// Zero-filled at process start; never copied, re-created or reset as a whole.
extern RunState runState;
