// Reading the topics file (UTF-8 or Windows-1251, as the question sources) and
// lining it up with the database's intellect questions.
#include <cstring>
#include <string_view>

#include "core/cp1251.h"
#include "tools/source_text.h"
#include "tools/topics.h"

namespace {

// The field in Windows-1251, or false with an error naming the line.
bool convertField(TopicList& topics, long line, SourceEncoding encoding, std::string_view field,
                  std::string& converted) {
    if (encoding == SourceEncoding::Windows1251) {
        converted.assign(field);
        return true;
    }
    converted.assign(field.size(), '\0');
    std::size_t badAt = 0;
    long length = cp1251::fromUtf8(field.data(), field.size(), converted.data(), badAt);
    if (length >= 0) {
        converted.resize(static_cast<std::size_t>(length));
        return true;
    }
    diagnose(topics.report, line, Severity::Error, "topics encoding",
             "column " + std::to_string(badAt + 1) + " is malformed UTF-8 or has no Windows-1251 character");
    return false;
}

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

// Files one line's groups and question start. Returns false when a field cannot be converted.
bool readTopicLine(TopicList& topics, long line, SourceEncoding encoding, std::string_view text) {
    std::vector<std::string_view> fields = splitFields(text);
    std::size_t groupFields = fields.size() > 1 ? fields.size() - 1 : 1;
    std::vector<int> groups;
    std::string converted;
    for (std::size_t at = 0; at < groupFields; ++at) {
        if (!convertField(topics, line, encoding, fields[at], converted)) return false;
        if (!converted.empty()) groups.push_back(groupIndex(topics, converted));
    }
    topics.groupsOf.push_back(groups);
    converted.clear();
    if (fields.size() > 1 && !convertField(topics, line, encoding, fields.back(), converted)) return false;
    topics.questionStarts.push_back(converted);
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
