// The topics file given to the checker: the groups (a topic, a level) each
// intellect question of a database belongs to, so that the blind rules are
// judged group by group as well as over the whole file. One line per intellect
// question, in the database's order: a lone field names the question's topic;
// of several fields separated by tabs, the last is the start of the question,
// which must match it, and the others name its groups.
#pragma once

#include <string>
#include <vector>

#include "tools/check.h"

struct TopicList {
    FileReport report;                           // findings about the topics file itself
    std::vector<std::string> groupNames = {};    // Windows-1251, in the order first named
    std::vector<std::vector<int>> groupsOf = {};  // per line: indexes into groupNames
    std::vector<std::string> questionStarts = {};  // per line, Windows-1251; empty when not given
    bool matches = true;                          // every line fits its question, and the count is right
};

// Reads report.path into the list. Returns false, with an error in the report,
// when it cannot be read or converted to Windows-1251.
bool readTopics(TopicList& topics);

// Checks line (intellect question) `index` (from 0) against the question's
// text, named `where` in the database's terms; a mismatch is an error of the
// topics file, and the groups are then not judged.
void matchTopicLine(TopicList& topics, long index, const char* question, const std::string& where);

// Checks that there is one line per intellect question of the database.
void matchTopicCount(TopicList& topics, long intellectQuestions, const std::string& database);
