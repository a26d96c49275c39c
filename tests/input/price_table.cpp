// Writes the price table that both builds check the price conversion against: what this
// system's strtod (glibc's, in the C locale) makes of about 22,000 price texts. One line per
// text:
//     <result> TAB <bits> TAB <text>
// result: ok, invalid (nothing converted) or range (errno ERANGE); bits: the double strtod
// returned, as 16 hex digits; text: the price text, with \\, \t, \n, \v, \f, \r and \xHH for
// every byte outside 20-7E hex.
//   usage: price_table > tests/input/price_table.tsv
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::mt19937_64 random(2026);

std::string pick(const std::vector<std::string>& choices) {
    return choices[random() % choices.size()];
}

std::string digits(std::size_t count, const char* alphabet = "0123456789") {
    const std::size_t size = std::strlen(alphabet);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += alphabet[random() % size];
    }
    return text;
}

// Letters in any case: inf, INF, iNfInItY, ...
std::string anyCase(std::string word) {
    for (char& c : word) {
        if (random() % 2 == 0 && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return word;
}

// The forms prices take in tick files: short plain decimals, signed or not.
std::string plainDecimal() {
    std::string text = random() % 4 == 0 ? "-" : "";
    text += digits(1 + random() % 20);
    if (random() % 3 != 0) {
        text += '.';
        text += digits(1 + random() % 20);
    }
    return text;
}

std::string exponent() {
    return pick({"e", "E"}) + pick({"", "+", "-"}) + digits(1 + random() % 3);
}

std::string body() {
    const std::string hexDigits = "0123456789abcdefABCDEF";
    switch (random() % 9) {
        case 0: {
            std::string text = pick({"0x", "0X"}) + digits(random() % 14, hexDigits.c_str());
            if (random() % 2 != 0) {
                text += '.';
                text += digits(random() % 14, hexDigits.c_str());
            }
            if (random() % 2 != 0) {
                text += pick({"p", "P"}) + pick({"", "+", "-"}) + digits(1 + random() % 4);
            }
            return text;
        }
        case 1:
            return anyCase(pick({"inf", "infinity", "nan", "infinit", "in", "na"}));
        case 2:
            return anyCase("nan") + "(" + digits(random() % 6, "0123456789abcxyz_") +
                   pick({")", ""});
        case 3: {
            std::string text = digits(1 + random() % 6);
            if (random() % 2 != 0) {
                text += '.';
                text += digits(random() % 6);
            }
            return text + exponent();
        }
        case 4:  // around the smallest and the largest doubles
            return pick({"4.9406564584124654e-324", "2.4703282292062327e-324",
                         "2.4703282292062328e-324", "2.2250738585072011e-308",
                         "2.2250738585072014e-308", "1e-310", "1e-320", "1e-324", "1e-400",
                         "1.7976931348623157e308", "1.7976931348623158e308",
                         "1.7976931348623159e308", "1e309", "0x1p-1074", "0x1p-1075",
                         "0x1.fffffffffffffp1023", "0x1p1024"});
        case 5:
            return pick({"", ".", "e5", "x", "0x", "0x.", "+-1", "-+1", "..5", "1..5", "0.", ".e1",
                         "1e", "1e+", "00", "-0", "0e0"});
        case 6:
            return digits(20 + random() % 30) + '.' + digits(random() % 30);
        default:
            return plainDecimal();
    }
}

std::string structured() {
    return pick({"", "", "", " ", "  ", "\t", "\n", "\v", "\f", "\r", " \t"}) +
           pick({"", "", "+", "-"}) + body() +
           pick({"", "", "", "x", " ", "e", "e+", "abc", "\x80", "p1", ")"});
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\v':
                out += "\\v";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (byte < 0x20 || byte > 0x7e) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

}  // namespace

int main() {
    std::vector<std::string> texts{"0", "-0", "0.0", "1.", ".5", "-.5", "00012.5000", "1.10345",
                                   "9007199254740993", "0.1000000000000000055511151231257827",
                                   "1e-300", "1e5", "+1.5", " 1.5", "1.5abc", "0x10", "-3e2",
                                   // NaN payloads: decimal, hexadecimal, octal, none, too large
                                   "nan(123)", "nan(0x10)", "nan(017)", "nan(08)", "nan(0x)",
                                   "-nan(5)", "nan()", "nan(0xfffffffffffff)", "nan(1",
                                   "nan(18446744073709551615)", "nan(18446744073709551616)",
                                   "nan(99999999999999999999999z)", "NaN(0X1F)x"};
    for (int i = 0; i < 12000; ++i) {
        texts.push_back(plainDecimal());
    }
    for (int i = 0; i < 10000; ++i) {
        texts.push_back(structured());
    }
    for (const std::string& text : texts) {
        errno = 0;
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const char* result = end == text.c_str() ? "invalid" : errno == ERANGE ? "range" : "ok";
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        std::printf("%s\t%016" PRIx64 "\t%s\n", result, bits, escaped(text).c_str());
    }
}
