// Gathering a question source's lines into records: where a record starts and
// ends, and what its key line says, apart from converting the text.
#include "tools/source_records.h"

namespace {

bool isBlank(char byte) { return byte == ' ' || byte == '\t'; }

std::string_view withoutEndBlanks(std::string_view line) {
    while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
    return line;
}

// The key in the database's form: one digit, or four separated by single blanks;
// empty when the line is neither.
std::string normalKey(std::string_view line) {
    std::string digits;
    bool apart = true;  // a blank (or the line's start) came before this byte
    for (char byte : line) {
        if (isBlank(byte)) {
            apart = true;
            continue;
        }
        if (byte < '1' || byte > '4' || !apart) return {};
        digits.push_back(byte);
        apart = false;
    }
    if (digits.size() == 1) return digits;
    if (digits.size() != kAnswerCount) return {};
    return {digits[0], ' ', digits[1], ' ', digits[2], ' ', digits[3]};
}

std::string faultAt(const char* what, long start) { return std::string(what) + std::to_string(start); }

}  // namespace

bool isIntellectKey(const std::string& key) { return key.size() == 1; }

std::vector<SourceRecord> gatherRecords(const std::vector<std::string_view>& lines, std::vector<SourceFault>& faults) {
    std::vector<SourceRecord> records;
    SourceRecord record;
    int filled = 0;
    for (long number = 1; number <= static_cast<long>(lines.size()); ++number) {
        std::string_view line = withoutEndBlanks(lines[static_cast<std::size_t>(number - 1)]);
        if (line.find_first_not_of(" \t") == std::string_view::npos) {
            if (filled > 0) {
                faults.push_back({number, faultAt("blank line inside the record that starts at line ",
                                                  record.lineNumbers[0]) + "; a record's six lines follow one "
                                                  "another, blank lines may stand only between records"});
            }
            filled = 0;
            continue;
        }
        record.lines[filled] = line;
        record.lineNumbers[filled] = number;
        if (++filled < kLinesPerRecord) continue;
        filled = 0;
        record.key = normalKey(line);
        if (!record.key.empty()) {
            records.push_back(record);
            continue;
        }
        faults.push_back({number, faultAt("the key is neither one digit 1-4 (an intellect question) nor four "
                                          "(a character question); is a line missing or extra in the record that "
                                          "starts at line ", record.lineNumbers[0]) + "?"});
    }
    if (filled > 0) {
        faults.push_back({record.lineNumbers[0], "the file ends inside the record that starts here: it has " +
                                                     std::to_string(filled) + " of its six lines"});
    }
    return records;
}
