// Build tool: compiles a resource script into a C++ source that defines the
// program's ResourceModule. Usage: tavrick_rc SCRIPT OUTPUT MODULE_NAME
//
// The script holds STRINGTABLE blocks in the resource compiler's syntax:
//   STRINGTABLE
//   BEGIN
//       103, "Tavrick"
//       120, """%s"" already exists."
//   END
// with // and /* */ comments. A mistake stops the build with its line number.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Kind { Word, Number, String, Comma, End };

struct Token {
    Kind kind;
    std::string text;
    long number;
    int line;
};

std::string scriptName;

[[noreturn]] void Fail(int line, const std::string& message)
{
    std::fprintf(stderr, "%s:%d: %s\n", scriptName.c_str(), line, message.c_str());
    std::exit(1);
}

std::vector<Token> Tokenize(const std::string& text)
{
    std::vector<Token> tokens;
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (text.compare(i, 2, "//") == 0) {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (text.compare(i, 2, "/*") == 0) {
            size_t end = text.find("*/", i + 2);
            if (end == std::string::npos)
                Fail(line, "unterminated comment");
            for (size_t k = i; k < end; ++k)
                line += text[k] == '\n';
            i = end + 2;
        } else if (c == ',') {
            tokens.push_back({Kind::Comma, ",", 0, line});
            ++i;
        } else if (c == '"') {
            std::string value;
            int start = line;
            ++i;
            for (;;) {
                if (i >= text.size() || text[i] == '\n')
                    Fail(start, "unterminated string");
                char s = text[i++];
                if (s == '"') {
                    if (i < text.size() && text[i] == '"') {
                        value += '"';
                        ++i;
                        continue;
                    }
                    break;
                }
                if (s != '\\') {
                    value += s;
                    continue;
                }
                char e = i < text.size() ? text[i++] : '\0';
                switch (e) {
                case '\\': value += '\\'; break;
                case '"': value += '"'; break;
                case 'n': value += '\n'; break;
                case 'r': value += '\r'; break;
                case 't': value += '\t'; break;
                case 'a': value += '\a'; break;
                default: Fail(line, std::string("unknown escape \\") + e);
                }
            }
            tokens.push_back({Kind::String, value, 0, start});
        } else if (c >= '0' && c <= '9') {
            size_t end;
            long number = std::stol(text.substr(i, 16), &end, 0);
            tokens.push_back({Kind::Number, text.substr(i, end), number, line});
            i += end;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
            size_t start = i;
            while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
                ++i;
            tokens.push_back({Kind::Word, text.substr(start, i - start), 0, line});
        } else {
            Fail(line, std::string("unexpected character '") + c + "'");
        }
    }
    tokens.push_back({Kind::End, "", 0, line});
    return tokens;
}

std::string CLiteral(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F && c != '?') {
            out += static_cast<char>(c);
        } else {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        }
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: tavrick_rc SCRIPT OUTPUT MODULE_NAME\n");
        return 2;
    }
    scriptName = argv[1];
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read\n", argv[1]);
        return 1;
    }
    std::stringstream whole;
    whole << in.rdbuf();
    std::vector<Token> tokens = Tokenize(whole.str());

    std::map<long, std::string> strings;
    size_t at = 0;
    while (tokens[at].kind != Kind::End) {
        const Token& statement = tokens[at++];
        if (statement.kind != Kind::Word || statement.text != "STRINGTABLE")
            Fail(statement.line, "expected STRINGTABLE, found '" + statement.text + "'");
        // Memory options (DISCARDABLE and the like) mean nothing here.
        while (tokens[at].kind == Kind::Word && tokens[at].text != "BEGIN")
            ++at;
        if (tokens[at].kind != Kind::Word)
            Fail(tokens[at].line, "expected BEGIN");
        ++at;
        for (;;) {
            const Token& first = tokens[at];
            if (first.kind == Kind::Word && first.text == "END") {
                ++at;
                break;
            }
            if (first.kind != Kind::Number)
                Fail(first.line, "expected a string id or END");
            if (first.number < 0 || first.number > 65535)
                Fail(first.line, "string id out of range: " + first.text);
            ++at;
            if (tokens[at].kind == Kind::Comma)
                ++at;
            if (tokens[at].kind != Kind::String)
                Fail(tokens[at].line, "expected the text of string " + first.text);
            if (!strings.emplace(first.number, tokens[at].text).second)
                Fail(first.line, "string id defined twice: " + first.text);
            ++at;
        }
    }

    std::ostringstream out;
    out << "// Generated by tavrick_rc from the resource script. Edit the script, not this file.\n";
    out << "#include \"resources/resource.h\"\n\nnamespace {\nconst StringResource strings[] = {\n";
    for (const auto& [id, text] : strings)
        out << "    {" << id << ", " << CLiteral(text) << "},\n";
    if (strings.empty())
        out << "    {0, nullptr},\n";
    out << "};\n}  // namespace\n\nextern const ResourceModule " << argv[3] << ";\nconst ResourceModule "
        << argv[3] << " = {strings, " << strings.size() << "};\n";

    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
