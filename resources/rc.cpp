// Build tool: compiles a resource script into a C++ source that defines the
// program's ResourceModule. Usage: tavrick_rc SCRIPT OUTPUT MODULE_NAME
//
// The script holds STRINGTABLE and DIALOGEX blocks in the resource compiler's
// syntax, with // and /* */ comments:
//   STRINGTABLE
//   BEGIN
//       103, "Tavrick"
//       120, """%s"" already exists."
//   END
//   104 DIALOGEX 0, 0, 189, 58
//   STYLE DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU
//   CAPTION "Processing..."
//   FONT 8, "MS Shell Dlg"
//   BEGIN
//       CTEXT "Please wait ...", 1011, 7, 7, 175, 8
//       CONTROL "", 1010, "msctls_progress32", WS_BORDER, 7, 18, 175, 12
//       EDITTEXT 1024, 207, 263, 41, 14, ES_AUTOHSCROLL | ES_NUMBER | NOT WS_VISIBLE
//   END
//   107 J2KIMG "art/about_side.j2k"
// The last form embeds a file, named relative to the script, as a resource of
// that type and id (icons, cursors, pictures, texts).
// Style expressions join the platform's style names and numbers with "|";
// "NOT name" takes a bit away from the statement's default styles. A mistake
// stops the build with its line number: an unknown name, a control kind the
// window layer can't build, an id used twice, an up-down without an edit
// before it, a control outside its dialog.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "resources/dialog.h"

namespace {

enum class Kind { Word, Number, String, Comma, Bar, End };

struct Token {
    Kind kind;
    std::string text;
    long number;
    int line;
};

std::string scriptName;

[[noreturn]] void Fail(int line, const std::string& message) {
    std::fprintf(stderr, "%s:%d: %s\n", scriptName.c_str(), line, message.c_str());
    std::exit(1);
}

std::vector<Token> Tokenize(const std::string& text) {
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
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (text.compare(i, 2, "/*") == 0) {
            size_t end = text.find("*/", i + 2);
            if (end == std::string::npos) Fail(line, "unterminated comment");
            for (size_t k = i; k < end; ++k) line += text[k] == '\n';
            i = end + 2;
        } else if (c == ',') {
            tokens.push_back({Kind::Comma, ",", 0, line});
            ++i;
        } else if (c == '|') {
            tokens.push_back({Kind::Bar, "|", 0, line});
            ++i;
        } else if (c == '"') {
            std::string value;
            int start = line;
            ++i;
            for (;;) {
                if (i >= text.size() || text[i] == '\n') Fail(start, "unterminated string");
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
        } else if ((c >= '0' && c <= '9') ||
                   (c == '-' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
            size_t end;
            long number = std::stol(text.substr(i, 16), &end, 0);
            if (i + end < text.size() && std::isalnum(static_cast<unsigned char>(text[i + end])))
                Fail(line, "malformed number '" + text.substr(i, end + 1) + "'");
            tokens.push_back({Kind::Number, text.substr(i, end), number, line});
            i += end;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
            size_t start = i;
            while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
            tokens.push_back({Kind::Word, text.substr(start, i - start), 0, line});
        } else {
            Fail(line, std::string("unexpected character '") + c + "'");
        }
    }
    tokens.push_back({Kind::End, "", 0, line});
    return tokens;
}

std::string CLiteral(const std::string& text) {
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

struct Control {
    long id;
    std::string className;
    std::string text;
    std::uint32_t style;
    std::uint32_t exStyle;
    long x, y, width, height;
    int line;
};

struct Dialog {
    long id;
    std::string caption;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    long x = 0, y = 0, width = 0, height = 0;
    std::string fontName;
    long fontPointSize = 0;
    std::vector<Control> controls;
};

// The names a style expression or an id may use.
const std::map<std::string, std::uint32_t>& StyleNames() {
    static const std::map<std::string, std::uint32_t> names = {
#define NAME(n) {#n, n}
        NAME(WS_POPUP),         NAME(WS_CHILD),       NAME(WS_MINIMIZE),       NAME(WS_VISIBLE),
        NAME(WS_DISABLED),      NAME(WS_CAPTION),     NAME(WS_BORDER),         NAME(WS_DLGFRAME),
        NAME(WS_VSCROLL),       NAME(WS_HSCROLL),     NAME(WS_SYSMENU),        NAME(WS_THICKFRAME),
        NAME(WS_GROUP),         NAME(WS_TABSTOP),     NAME(WS_MINIMIZEBOX),    NAME(WS_MAXIMIZEBOX),
        NAME(DS_3DLOOK),        NAME(DS_FIXEDSYS),    NAME(DS_SETFONT),        NAME(DS_MODALFRAME),
        NAME(DS_CENTER),        NAME(DS_SHELLFONT),   NAME(SS_LEFT),           NAME(SS_CENTER),
        NAME(SS_RIGHT),         NAME(SS_BITMAP),      NAME(SS_LEFTNOWORDWRAP), NAME(SS_NOPREFIX),
        NAME(SS_NOTIFY),        NAME(SS_CENTERIMAGE), NAME(SS_REALSIZEIMAGE),  NAME(SS_SUNKEN),
        NAME(ES_LEFT),          NAME(ES_MULTILINE),   NAME(ES_AUTOVSCROLL),    NAME(ES_AUTOHSCROLL),
        NAME(ES_READONLY),      NAME(ES_WANTRETURN),  NAME(ES_NUMBER),         NAME(BS_PUSHBUTTON),
        NAME(BS_DEFPUSHBUTTON), NAME(BS_CHECKBOX),    NAME(BS_AUTOCHECKBOX),   NAME(BS_GROUPBOX),
        NAME(BS_PUSHLIKE),      NAME(BS_MULTILINE),   NAME(CBS_SIMPLE),        NAME(CBS_DROPDOWN),
        NAME(CBS_DROPDOWNLIST), NAME(CBS_SORT),       NAME(CBS_HASSTRINGS),    NAME(UDS_WRAP),
        NAME(UDS_SETBUDDYINT),  NAME(UDS_ALIGNRIGHT), NAME(UDS_ALIGNLEFT),     NAME(UDS_AUTOBUDDY),
        NAME(UDS_ARROWKEYS),    NAME(UDS_HORZ),       NAME(UDS_NOTHOUSANDS),   NAME(PBS_SMOOTH),
#undef NAME
    };
    return names;
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    void Script() {
        while (Peek().kind != Kind::End) {
            const Token& first = Next();
            if (first.kind == Kind::Word && first.text == "STRINGTABLE")
                StringTable();
            else if (first.kind == Kind::Number && Peek().kind == Kind::Word && Peek().text == "DIALOGEX")
                DialogBlock(first);
            else if (first.kind == Kind::Number && Peek().kind == Kind::Word)
                FileResource(first);
            else
                Fail(first.line, "expected STRINGTABLE, a DIALOGEX or a file resource, found '" + first.text + "'");
        }
    }

    std::map<long, std::string> strings;
    std::map<long, Dialog> dialogs;
    // (type, id) -> the file's bytes
    std::map<std::pair<std::string, long>, std::string> files;

private:
    const Token& Peek() const { return tokens_[at_]; }
    const Token& Next() {
        const Token& token = tokens_[at_];
        if (token.kind != Kind::End) ++at_;
        return token;
    }
    bool IsWord(const char* word) const { return Peek().kind == Kind::Word && Peek().text == word; }
    void Expect(Kind kind, const char* what) {
        if (Peek().kind != kind) Fail(Peek().line, std::string("expected ") + what + ", found '" + Peek().text + "'");
        Next();
    }
    void Comma() { Expect(Kind::Comma, "','"); }
    std::string String(const char* what) {
        if (Peek().kind != Kind::String)
            Fail(Peek().line, std::string("expected ") + what + " (a quoted string), found '" + Peek().text + "'");
        return Next().text;
    }
    long Number(const char* what) {
        if (Peek().kind != Kind::Number)
            Fail(Peek().line, std::string("expected ") + what + " (a number), found '" + Peek().text + "'");
        return Next().number;
    }
    long Id() {
        if (Peek().kind == Kind::Word) {
            static const std::map<std::string, long> ids = {{"IDOK", 1}, {"IDCANCEL", 2}, {"IDC_STATIC", IDC_STATIC}};
            auto found = ids.find(Peek().text);
            if (found == ids.end()) Fail(Peek().line, "unknown control id '" + Peek().text + "'");
            Next();
            return found->second;
        }
        long id = Number("a control id");
        if (id < -1 || id > 65535) Fail(tokens_[at_ - 1].line, "control id out of range: " + std::to_string(id));
        return id;
    }

    // terms joined by '|'; NOT name clears the bit from base.
    std::uint32_t Styles(std::uint32_t base) {
        std::uint32_t set = 0;
        std::uint32_t cleared = 0;
        for (;;) {
            bool negate = false;
            if (IsWord("NOT")) {
                Next();
                negate = true;
            }
            std::uint32_t value;
            const Token& term = Next();
            if (term.kind == Kind::Number) {
                if (term.number < 0 || term.number > 0xFFFFFFFFL) Fail(term.line, "style out of range: " + term.text);
                value = static_cast<std::uint32_t>(term.number);
            } else if (term.kind == Kind::Word) {
                auto found = StyleNames().find(term.text);
                if (found == StyleNames().end()) Fail(term.line, "unknown style '" + term.text + "'");
                value = found->second;
            } else {
                Fail(term.line, "expected a style, found '" + term.text + "'");
            }
            (negate ? cleared : set) |= value;
            if (Peek().kind != Kind::Bar) break;
            Next();
        }
        return (base | set) & ~cleared;
    }

    void Rect(long& x, long& y, long& width, long& height) {
        int line = Peek().line;
        x = Number("x");
        Comma();
        y = Number("y");
        Comma();
        width = Number("a width");
        Comma();
        height = Number("a height");
        if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > 32767 || y + height > 32767)
            Fail(line, "rectangle out of range");
    }

    void StringTable() {
        // Memory options (DISCARDABLE and the like) mean nothing here.
        while (Peek().kind == Kind::Word && Peek().text != "BEGIN") Next();
        Expect(Kind::Word, "BEGIN");
        for (;;) {
            const Token& first = Peek();
            if (first.kind == Kind::Word && first.text == "END") {
                Next();
                break;
            }
            if (first.kind != Kind::Number) Fail(first.line, "expected a string id or END");
            if (first.number < 0 || first.number > 65535) Fail(first.line, "string id out of range: " + first.text);
            Next();
            if (Peek().kind == Kind::Comma) Next();
            if (Peek().kind != Kind::String) Fail(Peek().line, "expected the text of string " + first.text);
            if (!strings.emplace(first.number, Next().text).second)
                Fail(first.line, "string id defined twice: " + first.text);
        }
    }

    void FileResource(const Token& idToken) {
        std::string type = Next().text;
        if (idToken.number < 1 || idToken.number > 65535)
            Fail(idToken.line, "resource id out of range: " + idToken.text);
        std::string name = String("the resource's file name");
        std::string folder = scriptName.substr(0, scriptName.find_last_of('/') + 1);
        std::ifstream in(folder + name, std::ios::binary);
        std::stringstream bytes;
        if (!in || !(bytes << in.rdbuf())) Fail(idToken.line, "cannot read " + folder + name);
        if (!files.emplace(std::make_pair(type, idToken.number), bytes.str()).second)
            Fail(idToken.line, type + " resource id defined twice: " + idToken.text);
    }

    void DialogBlock(const Token& idToken) {
        Next();  // DIALOGEX
        if (idToken.number < 1 || idToken.number > 65535) Fail(idToken.line, "dialog id out of range: " + idToken.text);
        Dialog dialog;
        dialog.id = idToken.number;
        Rect(dialog.x, dialog.y, dialog.width, dialog.height);
        while (!IsWord("BEGIN")) {
            const Token& option = Next();
            if (option.kind != Kind::Word)
                Fail(option.line, "expected a dialog option or BEGIN, found '" + option.text + "'");
            if (option.text == "STYLE") {
                dialog.style = Styles(0);
            } else if (option.text == "EXSTYLE") {
                dialog.exStyle = Styles(0);
            } else if (option.text == "CAPTION") {
                dialog.caption = String("the caption");
            } else if (option.text == "FONT") {
                dialog.fontPointSize = Number("the point size");
                if (dialog.fontPointSize <= 0 || dialog.fontPointSize > 72) Fail(option.line, "font size out of range");
                Comma();
                dialog.fontName = String("the font name");
                if (dialog.fontName.empty()) Fail(option.line, "empty font name");
                // Weight, italic and character set: accepted, not used.
                while (Peek().kind == Kind::Comma) {
                    Next();
                    Number("a font attribute");
                }
            } else {
                Fail(option.line, "unknown dialog option '" + option.text + "'");
            }
        }
        Next();  // BEGIN
        if (dialog.fontName.empty()) Fail(idToken.line, "dialog " + idToken.text + " has no FONT");
        dialog.style |= DS_SETFONT;
        while (!IsWord("END")) dialog.controls.push_back(ControlStatement());
        Next();
        Check(dialog);
        if (!dialogs.emplace(dialog.id, std::move(dialog)).second)
            Fail(idToken.line, "dialog id defined twice: " + idToken.text);
    }

    Control ControlStatement() {
        const Token& statement = Next();
        if (statement.kind != Kind::Word)
            Fail(statement.line, "expected a control statement or END, found '" + statement.text + "'");
        struct Shape {
            const char* className;
            std::uint32_t defaults;
            bool hasText;
        };
        static const std::map<std::string, Shape> shapes = {
            {"LTEXT", {WC_STATIC, SS_LEFT | WS_GROUP, true}},
            {"RTEXT", {WC_STATIC, SS_RIGHT | WS_GROUP, true}},
            {"CTEXT", {WC_STATIC, SS_CENTER | WS_GROUP, true}},
            {"GROUPBOX", {WC_BUTTON, BS_GROUPBOX, true}},
            {"PUSHBUTTON", {WC_BUTTON, BS_PUSHBUTTON | WS_TABSTOP, true}},
            {"DEFPUSHBUTTON", {WC_BUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP, true}},
            {"AUTOCHECKBOX", {WC_BUTTON, BS_AUTOCHECKBOX | WS_TABSTOP, true}},
            {"EDITTEXT", {WC_EDIT, ES_LEFT | WS_BORDER | WS_TABSTOP, false}},
            {"COMBOBOX", {WC_COMBOBOX, CBS_SIMPLE | WS_TABSTOP, false}},
        };
        Control control{};
        control.line = statement.line;
        std::uint32_t base = WS_CHILD | WS_VISIBLE;
        if (statement.text == "CONTROL") {
            control.text = String("the control's text");
            Comma();
            control.id = Id();
            Comma();
            control.className = String("the control's class");
            Comma();
            control.style = Styles(base);
            Comma();
            Rect(control.x, control.y, control.width, control.height);
            if (Peek().kind == Kind::Comma) {
                Next();
                control.exStyle = Styles(0);
            }
        } else {
            auto shape = shapes.find(statement.text);
            if (shape == shapes.end()) Fail(statement.line, "unknown control statement '" + statement.text + "'");
            if (shape->second.hasText) {
                control.text = String("the control's text");
                Comma();
            }
            control.id = Id();
            Comma();
            control.className = shape->second.className;
            Rect(control.x, control.y, control.width, control.height);
            control.style = base | shape->second.defaults;
            if (Peek().kind == Kind::Comma) {
                Next();
                control.style = Styles(control.style);
                if (Peek().kind == Kind::Comma) {
                    Next();
                    control.exStyle = Styles(0);
                }
            }
        }
        return control;
    }

    static void Check(const Dialog& dialog) {
        std::map<long, int> seen;
        for (size_t i = 0; i < dialog.controls.size(); ++i) {
            const Control& control = dialog.controls[i];
            DialogControlKind kind = ClassifyDialogControl(control.className.c_str(), control.style);
            if (kind == DialogControlKind::Invalid)
                Fail(control.line, "no control of class \"" + control.className + "\" with these styles");
            if (control.id != IDC_STATIC && !seen.emplace(control.id, control.line).second)
                Fail(control.line,
                     "control id " + std::to_string(control.id) + " used twice in dialog " + std::to_string(dialog.id));
            if (kind == DialogControlKind::UpDown && (control.style & UDS_AUTOBUDDY)) {
                bool buddy = i > 0 && ClassifyDialogControl(dialog.controls[i - 1].className.c_str(),
                                                            dialog.controls[i - 1].style) == DialogControlKind::Edit;
                if (!buddy) Fail(control.line, "an up-down with UDS_AUTOBUDDY needs an edit control right before it");
            }
            // A drop-down list's height is its open list, which may reach beyond the dialog.
            long bottom = control.y + (kind == DialogControlKind::DropDownList ? 1 : control.height);
            if (control.x + control.width > dialog.width || bottom > dialog.height)
                Fail(control.line, "control lies outside its dialog");
        }
    }

    std::vector<Token> tokens_;
    size_t at_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
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
    Parser parser(Tokenize(whole.str()));
    parser.Script();

    std::ostringstream out;
    out << "// Generated by tavrick_rc from the resource script. Edit the script, not this file.\n";
    out << "#include \"resources/resource.h\"\n\nnamespace {\nconst StringResource strings[] = {\n";
    for (const auto& [id, text] : parser.strings) out << "    {" << id << ", " << CLiteral(text) << "},\n";
    if (parser.strings.empty()) out << "    {0, nullptr},\n";
    out << "};\n";
    for (const auto& [id, dialog] : parser.dialogs) {
        out << "const DialogControlResource controls" << id << "[] = {\n";
        for (const Control& c : dialog.controls)
            out << "    {" << c.id << ", " << CLiteral(c.className) << ", " << CLiteral(c.text) << ", 0x" << std::hex
                << c.style << "u, 0x" << c.exStyle << std::dec << "u, " << c.x << ", " << c.y << ", " << c.width << ", "
                << c.height << "},\n";
        if (dialog.controls.empty()) out << "    {0, nullptr, nullptr, 0, 0, 0, 0, 0, 0},\n";
        out << "};\n";
    }
    out << "const DialogResource dialogs[] = {\n";
    for (const auto& [id, d] : parser.dialogs)
        out << "    {" << id << ", " << CLiteral(d.caption) << ", 0x" << std::hex << d.style << "u, 0x" << d.exStyle
            << std::dec << "u, " << d.x << ", " << d.y << ", " << d.width << ", " << d.height << ", "
            << CLiteral(d.fontName) << ", " << d.fontPointSize << ", controls" << id << ", " << d.controls.size()
            << "},\n";
    if (parser.dialogs.empty()) out << "    {0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, 0, nullptr, 0},\n";
    out << "};\n";
    int fileIndex = 0;
    for (const auto& entry : parser.files) {
        out << "const unsigned char file" << fileIndex++ << "[] = {";
        for (std::size_t i = 0; i < entry.second.size(); ++i)
            out << (i % 24 == 0 ? "\n    " : "") << static_cast<unsigned>(static_cast<unsigned char>(entry.second[i]))
                << ",";
        out << "0};\n";  // never empty, and a text ends in a terminator
    }
    out << "const FileResource files[] = {\n";
    fileIndex = 0;
    for (const auto& [key, bytes] : parser.files)
        out << "    {" << CLiteral(key.first) << ", " << key.second << ", file" << fileIndex++ << ", " << bytes.size()
            << "},\n";
    if (parser.files.empty()) out << "    {\"\", 0, nullptr, 0},\n";
    out << "};\n}  // namespace\n\nextern const ResourceModule " << argv[3] << ";\nconst ResourceModule " << argv[3]
        << " = {strings, " << parser.strings.size() << ", dialogs, " << parser.dialogs.size() << ", files, "
        << parser.files.size() << "};\n";

    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
