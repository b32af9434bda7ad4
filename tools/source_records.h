// Gathering a question source's lines into six-line records, as editors leave
// them: blanks at a line's end dropped, blank lines between records passed
// over, a key's digits read whatever blanks stand around and between them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/run_state.h"

struct SourceRecord {
    std::string_view lines[kLinesPerRecord] = {};  // question, four answers, key; without end blanks
    long lineNumbers[kLinesPerRecord] = {};         // in the source, from 1
    std::string key = {};                            // "1".."4", or four digits as in "3 1 4 2"
};

struct SourceFault {
    long line;
    std::string text;
};

// The records of the lines (a source split as splitSource does), in order. A
// blank line inside a record, a key line that is no key and a record the file
// ends inside are faults, each named at its line; their records are left out.
std::vector<SourceRecord> gatherRecords(const std::vector<std::string_view>& lines, std::vector<SourceFault>& faults);

// True for a key of one digit 1-4 (an intellect question).
bool isIntellectKey(const std::string& key);
