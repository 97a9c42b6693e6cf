// The response scanner: tokens and values of responses, the token buffer's limits. The rules
// themselves are matched by brute force in reading_test.
#include <gtest/gtest.h>
#include <cstdio>
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

} // namespace
} // namespace morvane::testing
