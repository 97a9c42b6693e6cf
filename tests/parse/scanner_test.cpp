// The response scanner: tokens and values of responses, the token buffer's limits, and the
// automaton against a matcher written from the rules by brute force.
#include <gtest/gtest.h>
#include <cstdio>
#include <random>
#include "format/ieee488_formatter.hpp"
#include "parse/formattedio_scan.hpp"
#include "platform/ansi.hpp"
#include "support/scripted_session.hpp"

namespace morvane::testing {
namespace {

std::string shown(std::string_view bytes)
{
    std::string text = "'";
    for (const unsigned char byte : bytes) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, byte < 0x20 || byte >= 0x7F ? "\\x%02X" : "%c", byte);
        text += escaped;
    }
    return text + "'";
}

std::string describe_token(int token, const VARIANT& value)
{
    char text[64];
    switch (token) {
    case scan_token::END_OF_DATA: return "END";
    case scan_token::NEWLINE: return "NL";
    case scan_token::SEPARATOR: return "SEP";
    case scan_token::INTEGER: return std::snprintf(text, sizeof text, "INT %ld", V_I4(&value)), text;
    case scan_token::REAL: return std::snprintf(text, sizeof text, "REAL %.17g", V_R8(&value)), text;
    case scan_token::STRING: {
        return "STR " + shown(to_ansi(bstr_view(V_BSTR(&value))));
    }
    default: return "token " + std::to_string(token);
    }
}

// Every token of one response until the end of the data, then what the stream still holds.
std::string scan(const std::string& response, int kind = read_kind::any_list, const char* separators = ",;")
{
    scripted_session session;
    session.respond(response);
    session.respond("next\n");
    basic_comistream in(std::make_unique<comio_buf>(&session, 1000, 1000));
    ieee488_formatter source({}, VT_EMPTY);
    source.attach(in);
    unique_variant value;
    std::string tokens;
    {
        formattedio_scan scanner(&source, kind, value.get(), separators);
        try {
            const int first = scanner.next_token();
            if (first == scan_token::END_OF_DATA)
                return "END";
            if (first != kind)
                return "first token " + std::to_string(first);
            for (int token = first; token != scan_token::END_OF_DATA;) {
                token = scanner.next_token();
                tokens += describe_token(token, *value) + (token ? " " : "");
            }
        } catch (const scan_aborted&) {
            return tokens + "fatal: " + scanner.error_text();
        }
        if (!scanner.saved_rest().empty())
            tokens += " rest " + shown({reinterpret_cast<const char*>(scanner.saved_rest().data()),
                                         scanner.saved_rest().size()});
    }
    return tokens;
}

TEST(Scanner, CutsResponsesIntoTokens)
{
    const std::string nul("\0", 1);
    const struct {
        std::string response;
        std::string tokens;
        int kind = read_kind::any_list;
        const char* separators = ",;";
    } rows[] = {
        {"1.5,2,3\n", "REAL 1.5 SEP INT 2 SEP INT 3 NL END"},
        {"\n\n1,2", "INT 1 SEP INT 2 END"},
        {"\"abc\",1", "STR '\"abc\"' SEP INT 1 END"},
        {"\"a,b\"", "STR '\"a' SEP STR 'b\"' END"},
        {"#H1F", "STR '#H1F' END"},
        {"5.,+5.; 5.", "REAL 5 SEP STR '+5.' SEP STR ' 5.' END"},
        {"12.5 , 12.5 , 12 ,-1.5\r\n", "REAL 12.5 SEP STR ' 12.5 ' SEP INT 12 SEP STR '-1.5\\x0D' NL END"},
        {"1.5 E3,1E 5,1 e5,- 5,+ 7", "REAL 1.5 SEP REAL 1 SEP REAL 1 SEP INT 0 SEP INT 0 END"},
        {"12x,1 2,1.2.3,1e5x", "STR '12x' SEP STR '1 2' SEP STR '1.2.3' SEP STR '1e5x' END"},
        {"4294967296,-2147483648,2147483647,2147483648",
         "REAL 4294967296 SEP INT -2147483648 SEP INT 2147483647 SEP REAL 2147483648 END"},
        {"1e999,-1E+999,1e-400,4.9e-324,2.2250738585072011e-308",
         "STR '1e999' SEP STR '-1E+999' SEP REAL 0 SEP REAL 4.9406564584124654e-324 SEP REAL "
         "2.2250738585072009e-308 END"},
        {"0.1,123456789012345678901234567890,9007199254740993,.5e1,-.5",
         "REAL 0.10000000000000001 SEP REAL 1.2345678901234568e+29 SEP REAL 9007199254740992 SEP REAL 5 SEP "
         "REAL -0.5 END"},
        {"+,-,.,e", "STR '+' SEP STR '-' SEP STR '.' SEP STR 'e' END"},
        {"a,,b", "STR 'a' SEP SEP STR 'b' END"},
        {"1\r\nabc\r\n\r\n \r\n", "INT 1 NL STR 'abc\\x0D' NL NL STR ' \\x0D' NL END"},
        {"a\x80" "b,\x80" "c,\xff\n", "STR 'a\\x80b' SEP STR 'c' SEP NL END"},
        {"\x80\n\xff" "7", "INT 7 END"},
        // Blanks other than white space end the C string or stop the conversion.
        {nul + "5," + "\x01" "5,\t5\x0b,\x01" "5.5", "INT 0 SEP INT 0 SEP INT 5 SEP REAL 0 END"},
        {"1" + nul + "2,a" + nul + "b", "STR '1' SEP STR 'a' END"},
        {"\x7f" "1", "STR '\\x7F1' END"},
        {"a,b;c", "STR 'a,b' SEP STR 'c' END", read_kind::any_list, ";"},
        {",x;y", "STR ',x' SEP STR 'y' END", read_kind::any_list, ";"},
        {"1,5;2:3", "STR '1,5' SEP INT 2 SEP INT 3 END", read_kind::any_list, ";:"},
        {"123:4567890:12345678;1", "INT 123 SEP INT 4567890 SEP INT 12345678 SEP INT 1 END", read_kind::any_list, ";:"},
        {"1.5,2,3\n", "REAL 1.5 END rest ',2,3\\x0A'", read_kind::number_rest_kept, ","},
        {"1.5,2,3\n", "REAL 1.5 END", read_kind::number_rest_discarded, ","},
        {"+5.\n", "INT 5 END rest '.\\x0A'", read_kind::number_rest_kept, ","},
        {"1e999,2", "STR '1e999,2' END", read_kind::number_rest_kept, ","},
        {"abc,2", "STR 'abc' SEP INT 2 END", read_kind::number_rest_kept, ","},
        {"", "END"},
        {"\n\x80", "END"},
        {std::string(99, '9') + ",", "REAL 9.9999999999999997e+98 SEP END"},
        {std::string(100, '9') + ",", "fatal: Token buffer overflow"},
        {std::string(100, '9'), "fatal: Token buffer overflow"},
        {std::string(98, ' ') + "5,", "INT 5 SEP END"},
        {std::string(99, ' ') + "5,", "fatal: Token buffer overflow"},
        {std::string(150, 'x'), "STR '" + std::string(150, 'x') + "' END"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(scan(row.response, row.kind, row.separators), row.tokens) << shown(row.response);
}

// ---- the automaton against the rules, matched by brute force

bool blank(char c) { return static_cast<unsigned char>(c) <= 0x20 && c != '\n'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

struct cursor {
    std::string_view text;
    std::size_t at = 0;
    bool take(bool (*is)(char)) { return at < text.size() && is(text[at]) ? ++at, true : false; }
    bool take(char c) { return at < text.size() && text[at] == c ? ++at, true : false; }
    void skip(bool (*is)(char)) { while (take(is)) {} }
    bool sign() { return take('+') || take('-'); }
    bool done() const { return at == text.size(); }
};

// blanks, optional sign, blanks, digits, blanks: rule 1, and the exponent's tail
bool integer_form(std::string_view text)
{
    cursor c{text};
    c.skip(blank), c.sign(), c.skip(blank);
    if (!c.take(digit))
        return false;
    c.skip(digit), c.skip(blank);
    return c.done();
}

bool real_form(std::string_view text)
{
    cursor a{text};
    if (a.take(digit) && (a.skip(digit), a.take('.')) && (a.skip(digit), a.skip(blank), a.done()))
        return true;
    cursor b{text};
    b.skip(blank), b.sign(), b.skip(blank), b.skip(digit);
    return b.take('.') && b.take(digit) && (b.skip(digit), b.done());
}

bool exponent_form(std::string_view text)
{
    for (std::size_t e = 0; e < text.size(); ++e)
        if ((text[e] == 'e' || text[e] == 'E') && (integer_form(text.substr(0, e)) || real_form(text.substr(0, e))) &&
            integer_form(text.substr(e + 1)))
            return true;
    return false;
}

bool string_start(std::string_view text)
{
    const unsigned char c = static_cast<unsigned char>(text[0]);
    return text.size() == 1 && c < 0x80 && c != '\n' && c != '\r' && c != ',';
}

scan_automaton::match reference_match(std::string_view text)
{
    bool (*const rules[])(std::string_view) = {
        integer_form, [](std::string_view t) { return t == ","; }, real_form, exponent_form,
        [](std::string_view t) { return t == "\n"; }, string_start};
    for (std::size_t length = text.size(); length > 0; --length)
        for (int rule = 0; rule < 6; ++rule)
            if (rules[rule](text.substr(0, length)))
                return {static_cast<scan_rule>(rule + 1), length};
    return {no_rule, 0};
}

TEST(Scanner, AutomatonMatchesTheRulesLongestFirstThenLowest)
{
    const std::string alphabet("0123456789+-.eE \t\r\n,;aZ\0\x80", 26);
    std::mt19937 random(20261206);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(1, 9);
    int mismatches = 0;
    for (int i = 0; i < 200000 && mismatches < 10; ++i) {
        std::string text(length(random), ' ');
        for (char& c : text)
            c = alphabet[pick(random)];
        const auto found = scan_automaton::longest(scan_condition::response, text);
        const auto expected = reference_match(text);
        if (found.rule != expected.rule || found.length != expected.length) {
            ++mismatches;
            ADD_FAILURE() << shown(text) << ": rule " << int(found.rule) << " length " << found.length
                          << ", expected rule " << int(expected.rule) << " length " << expected.length;
        }
        const bool initial = static_cast<unsigned char>(text[0]) < 0x80 && text[0] != '\n';
        const auto first = scan_automaton::longest(scan_condition::initial, text);
        EXPECT_EQ(first.rule, initial ? initial_rule : no_rule);
        EXPECT_EQ(first.length, initial ? 1u : 0u);
    }
}

} // namespace
} // namespace morvane::testing
