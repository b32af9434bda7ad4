// Reading the topics file (UTF-8 or Windows-1251, as the question sources) and
// lining it up with the database's intellect questions.
#include <cstring>
#include <string_view>

#include "tools/source_text.h"
#include "tools/topics.h"

namespace {

int groupIndex(TopicList& topics, const std::string& name) {
    for (std::size_t at = 0; at < topics.groupNames.size(); ++at) {
        if (topics.groupNames[at] == name) return static_cast<int>(at);
    }
    topics.groupNames.push_back(name);
    return static_cast<int>(topics.groupNames.size()) - 1;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t end = line.find('\t'); end != std::string_view::npos; end = line.find('\t')) {
        fields.push_back(line.substr(0, end));
        line.remove_prefix(end + 1);
    }
    fields.push_back(line);
    return fields;
}

// Files one line's groups and question start. Returns false when the line cannot be converted.
bool readTopicLine(TopicList& topics, long line, SourceEncoding encoding, std::string_view text) {
    std::string converted;
    std::size_t badAt = 0;
    if (!lineInWindows1251(encoding, text, converted, badAt)) {
        diagnose(topics.report, line, Severity::Error, "topics encoding",
                 "byte " + std::to_string(badAt + 1) + " is malformed UTF-8 or stands for no Windows-1251 character");
        return false;
    }
    std::vector<std::string_view> fields = splitFields(converted);
    std::size_t groupFields = fields.size() > 1 ? fields.size() - 1 : 1;
    std::vector<int> groups;
    for (std::size_t at = 0; at < groupFields; ++at) {
        if (!fields[at].empty()) groups.push_back(groupIndex(topics, std::string(fields[at])));
    }
    topics.groupsOf.push_back(groups);
    topics.questionStarts.push_back(fields.size() > 1 ? std::string(fields.back()) : std::string());
    return true;
}

}  // namespace

bool readTopics(TopicList& topics) {
    std::string bytes;
    if (!readWholeFile(topics.report, bytes)) return false;
    SourceText text = splitSource(bytes);
    if (text.encoding == SourceEncoding::Utf16) {
        diagnose(topics.report, 0, Severity::Error, "topics encoding", "the file is UTF-16; save it as UTF-8");
        return false;
    }
    long line = 0;
    for (std::string_view lineText : text.lines) {
        if (!readTopicLine(topics, ++line, text.encoding, lineText)) return false;
    }
    summarize(topics.report, std::to_string(line) + " lines, " + std::to_string(topics.groupNames.size()) + " groups");
    return true;
}

void matchTopicLine(TopicList& topics, long index, const char* question, const std::string& where) {
    if (index >= static_cast<long>(topics.questionStarts.size())) return;
    const std::string& start = topics.questionStarts[static_cast<std::size_t>(index)];
    if (std::strncmp(question, start.c_str(), start.size()) == 0) return;
    topics.matches = false;
    diagnose(topics.report, index + 1, Severity::Error, "topic line",
             "the line names the question " + quoteText(start) + ", but intellect question " +
                 std::to_string(index + 1) + " (" + where + ") is " + quoteText(question, std::strlen(question)) +
                 "; keep one line per intellect question, in the database's order");
}

void matchTopicCount(TopicList& topics, long intellectQuestions, const std::string& database) {
    long lines = static_cast<long>(topics.groupsOf.size());
    if (lines == intellectQuestions) return;
    topics.matches = false;
    diagnose(topics.report, 0, Severity::Error, "topic count",
             std::to_string(lines) + " lines for the " + std::to_string(intellectQuestions) +
                 " intellect questions of " + database + "; give one line per intellect question, in its order");
}
