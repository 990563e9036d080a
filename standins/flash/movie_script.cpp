#include "standins/flash/movie_script.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint16_t kEndTag = 0;
constexpr uint16_t kBinaryDataTag = 87;
// Character id and the reserved 32-bit word come before the data.
constexpr uint32_t kBinaryDataHead = 6;
constexpr char kMagicLine[] = "flash-standin-script";

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Offset of the first tag of a plain movie: the 8-byte prefix, the frame rectangle (5 bits
// of field width, then four fields), frame rate and count. 0 when the movie is too short.
size_t FirstTagOffset(const uint8_t* movie, size_t length) {
    if (length < 9) return 0;
    size_t bits = 5 + 4 * static_cast<size_t>(movie[8] >> 3);
    size_t at = 8 + (bits + 7) / 8 + 4;
    return at <= length ? at : 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsBlank(text[at])) ++at;
        size_t end = at;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

struct Command {
    const char* name;
    ScriptStep::Kind kind;
    size_t argumentCount;  // words after the command; kTitle takes the rest of the line
};

const Command kCommands[] = {
    {"connect", ScriptStep::kConnect, 1}, {"addresses", ScriptStep::kAddresses, 2},
    {"get", ScriptStep::kGet, 1},         {"wait", ScriptStep::kWait, 0},
    {"title", ScriptStep::kTitle, 1},     {"clientinfo", ScriptStep::kClientInfo, 0},
    {"quit", ScriptStep::kQuit, 1},
};

bool ParseLine(const std::string& line, int number, std::vector<ScriptStep>* steps, std::string* error) {
    std::vector<std::string> words = SplitWords(line);
    if (words.empty() || words[0][0] == '#') return true;
    for (const Command& command : kCommands) {
        if (words[0] != command.name) continue;
        ScriptStep step = {command.kind, {}, number};
        if (command.kind == ScriptStep::kTitle) {
            size_t start = line.find(words[0]) + words[0].size();
            while (start < line.size() && IsBlank(line[start])) ++start;
            size_t end = line.size();
            while (end > start && IsBlank(line[end - 1])) --end;
            if (end > start) step.arguments.push_back(line.substr(start, end - start));
        } else {
            step.arguments.assign(words.begin() + 1, words.end());
        }
        if (step.arguments.size() != command.argumentCount) {
            *error = "line " + std::to_string(number) + ": " + command.name + " takes " +
                     std::to_string(command.argumentCount) + " argument(s)";
            return false;
        }
        // Values from the flash variables are checked when the step runs.
        if (command.kind == ScriptStep::kQuit && step.arguments[0].find("${") == std::string::npos) {
            char* end = nullptr;
            long ms = strtol(step.arguments[0].c_str(), &end, 10);
            if (*end || ms < 0 || ms > 3600000) {
                *error = "line " + std::to_string(number) + ": quit needs milliseconds from 0 to 3600000";
                return false;
            }
        }
        steps->push_back(step);
        return true;
    }
    *error = "line " + std::to_string(number) + ": unknown step \"" + words[0] + "\"";
    return false;
}

ScriptSearch ParseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error) {
    size_t at = 0;
    int number = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        ++number;
        if (number == 1) {
            while (!line.empty() && IsBlank(line.back())) line.pop_back();
            if (line != kMagicLine) return ScriptSearch::kNone;
        } else if (!ParseLine(line, number, steps, error)) {
            steps->clear();
            return ScriptSearch::kBroken;
        }
        at = end + 1;
    }
    return ScriptSearch::kFound;
}

}  // namespace

ScriptSearch FindMovieScript(const uint8_t* movie, size_t length, std::vector<ScriptStep>* steps,
                             std::string* error) {
    steps->clear();
    error->clear();
    if (!movie || length < 8 || memcmp(movie, "FWS", 3) != 0) return ScriptSearch::kNone;
    size_t at = FirstTagOffset(movie, length);
    if (at == 0) return ScriptSearch::kNone;
    while (length - at >= 2) {
        uint16_t head = Read16(movie + at);
        at += 2;
        uint16_t code = static_cast<uint16_t>(head >> 6);
        uint32_t size = head & 0x3Fu;
        if (size == 0x3F) {
            if (length - at < 4) break;
            size = Read32(movie + at);
            at += 4;
        }
        if (size > length - at) break;
        if (code == kEndTag) break;
        if (code == kBinaryDataTag && size > kBinaryDataHead) {
            const char* data = reinterpret_cast<const char*>(movie + at + kBinaryDataHead);
            ScriptSearch found = ParseScript(std::string(data, size - kBinaryDataHead), steps, error);
            if (found != ScriptSearch::kNone) return found;
        }
        at += size;
    }
    return ScriptSearch::kNone;
}

std::map<std::string, std::string> ParseFlashVars(const std::string& text) {
    static const struct {
        const char* entity;
        char plain;
    } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string plain;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& e : kEntities) {
            size_t n = strlen(e.entity);
            if (text.compare(i, n, e.entity) == 0) {
                plain += e.plain;
                i += n;
                replaced = true;
                break;
            }
        }
        if (!replaced) plain += text[i++];
    }
    std::map<std::string, std::string> variables;
    size_t at = 0;
    while (at <= plain.size()) {
        size_t end = plain.find('&', at);
        if (end == std::string::npos) end = plain.size();
        std::string pair = plain.substr(at, end - at);
        size_t equals = pair.find('=');
        if (!pair.empty()) {
            std::string name = pair.substr(0, equals);
            std::string value = equals == std::string::npos ? std::string() : pair.substr(equals + 1);
            variables.emplace(name, value);
        }
        at = end + 1;
    }
    return variables;
}

std::string ExpandArgument(const std::string& argument, const std::map<std::string, std::string>& variables) {
    std::string result;
    size_t at = 0;
    while (at < argument.size()) {
        size_t open = argument.find("${", at);
        size_t close = open == std::string::npos ? std::string::npos : argument.find('}', open + 2);
        if (close == std::string::npos) {
            result += argument.substr(at);
            break;
        }
        result += argument.substr(at, open - at);
        auto found = variables.find(argument.substr(open + 2, close - open - 2));
        if (found != variables.end()) result += found->second;
        at = close + 1;
    }
    return result;
}
