// Printing the checker's findings and quoting Windows-1251 text for a UTF-8
// terminal.
#include <cstdio>

#include "core/cp1251.h"
#include "tools/check.h"
#include "tools/read_file.h"

namespace {

constexpr std::size_t kQuotedCharacters = 48;

const char* severityName(Severity severity) {
    switch (severity) {
        case Severity::Error: return "error";
        case Severity::Warning: return "warning";
        default: return "note";
    }
}

void appendUtf8(std::string& out, unsigned long point) {
    if (point < 0x80) {
        out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (point >> 6)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

// Where line of the checked bytes was written, or null when they are the file's own.
const LineOrigin* originOf(const FileReport& report, long line) {
    if (line < 1 || line > static_cast<long>(report.origins.size())) return nullptr;
    return &report.origins[static_cast<std::size_t>(line - 1)];
}

}  // namespace

void diagnose(FileReport& report, long line, Severity severity, const std::string& kind, const std::string& text) {
    if (severity == Severity::Error) ++report.errors;
    if (severity == Severity::Warning) ++report.warnings;
    if (++report.foundByKind[kind] > kShownPerKind) return;
    const LineOrigin* origin = originOf(report, line);
    if (origin != nullptr) {
        std::fprintf(report.out, "%s:%ld: %s: %s\n", origin->path, origin->line, severityName(severity), text.c_str());
    } else if (line > 0) {
        std::fprintf(report.out, "%s:%ld: %s: %s\n", report.path.c_str(), line, severityName(severity), text.c_str());
    } else {
        std::fprintf(report.out, "%s: %s: %s\n", report.path.c_str(), severityName(severity), text.c_str());
    }
}

std::string lineName(const FileReport& report, long first, long last) {
    const LineOrigin* origin = originOf(report, first);
    std::string range = last > first ? "-" + std::to_string((origin ? origin->line : first) + last - first) : "";
    if (origin != nullptr) return origin->path + (":" + std::to_string(origin->line)) + range;
    return (range.empty() ? "line " : "lines ") + std::to_string(first) + range;
}

void summarize(FileReport& report, const std::string& text) { report.summary.push_back(text); }

void finishFindings(const FileReport& report) {
    for (const auto& [kind, found] : report.foundByKind) {
        if (found <= kShownPerKind) continue;
        std::fprintf(report.out, "%s: note: %d more findings of this kind not shown (%s)\n", report.path.c_str(),
                     found - kShownPerKind, kind.c_str());
    }
}

void finishReport(const FileReport& report) {
    finishFindings(report);
    for (const std::string& line : report.summary) std::fprintf(report.out, "%s: %s\n", report.path.c_str(), line.c_str());
    if (report.errors == 0 && report.warnings == 0) {
        std::fprintf(report.out, "%s: clean\n", report.path.c_str());
        return;
    }
    std::fprintf(report.out, "%s: %d error%s, %d warning%s\n", report.path.c_str(), report.errors,
                 report.errors == 1 ? "" : "s", report.warnings, report.warnings == 1 ? "" : "s");
}

std::string quoteText(const char* bytes, std::size_t size) {
    std::string quoted = "\"";
    std::size_t shown = size < kQuotedCharacters ? size : kQuotedCharacters;
    for (std::size_t at = 0; at < shown; ++at) {
        unsigned char byte = static_cast<unsigned char>(bytes[at]);
        long point = cp1251::decodeByte(byte);
        if (point < 0x20 || point == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            quoted += escape;
        } else {
            appendUtf8(quoted, static_cast<unsigned long>(point));
        }
    }
    return quoted + (shown < size ? "...\"" : "\"");
}

std::string percentOf(long part, long whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / whole);
    return text;
}

bool readWholeFile(FileReport& report, std::string& bytes) {
    std::string reason;
    if (readFileBytes(report.path, bytes, reason)) return true;
    diagnose(report, 0, Severity::Error, "open", reason);
    return false;
}
