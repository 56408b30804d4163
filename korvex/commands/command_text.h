// Command lines in fixed buffers, and the small text tests of the command
// interpreter.
#ifndef KORVEX_COMMANDS_COMMAND_TEXT_H_
#define KORVEX_COMMANDS_COMMAND_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvex::commands {

// A text of at most Capacity - 1 characters. An append that would not fit
// appends nothing and marks the text as overflowed, so that a caller refuses
// the whole command instead of sending a cut one.
template <std::size_t Capacity>
class BoundedText {
public:
    BoundedText() = default;
    explicit BoundedText(const char* text) { Append(text); }

    BoundedText& Append(const char* text) {
        if (!text) return *this;
        return Append(text, std::strlen(text));
    }
    BoundedText& Append(const char* text, std::size_t length) {
        if (length > Capacity - 1 - mLength) {
            mOverflow = true;
            return *this;
        }
        std::memcpy(mText + mLength, text, length);
        mLength += length;
        mText[mLength] = '\0';
        return *this;
    }
    BoundedText& Append(char c) { return Append(&c, 1); }
    BoundedText& AppendNumber(long long value) {
        char digits[24];
        const int length = FormatNumber(value, digits);
        return Append(digits, static_cast<std::size_t>(length));
    }
    void Assign(const char* text) {
        Clear();
        Append(text);
    }
    void Clear() {
        mLength = 0;
        mText[0] = '\0';
        mOverflow = false;
    }

    bool Overflowed() const { return mOverflow; }
    bool Empty() const { return mLength == 0; }
    std::size_t Length() const { return mLength; }
    const char* c_str() const { return mText; }
    // For interfaces that take the command as char*; the text stays bounded.
    char* data() { return mText; }
    char operator[](std::size_t i) const { return i < mLength ? mText[i] : '\0'; }
    bool Contains(char c) const { return std::memchr(mText, c, mLength) != nullptr; }
    bool Contains(const char* part) const { return std::strstr(mText, part) != nullptr; }

    static int FormatNumber(long long value, char* out) {
        char reversed[24];
        int n = 0;
        unsigned long long magnitude =
            value < 0 ? 0ull - static_cast<unsigned long long>(value)
                      : static_cast<unsigned long long>(value);
        do {
            reversed[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        int length = 0;
        if (value < 0) out[length++] = '-';
        while (n > 0) out[length++] = reversed[--n];
        out[length] = '\0';
        return length;
    }

private:
    char mText[Capacity] = {};
    std::size_t mLength = 0;
    bool mOverflow = false;
};

// The command line buffer of the interpreter (256 bytes).
using CommandLine = BoundedText<256>;

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
// A text that the interpreter takes as a number: it begins with a digit, a
// sign or a decimal point.
inline bool BeginsNumeric(const char* text) {
    return text && (IsDigit(text[0]) || text[0] == '-' || text[0] == '+' || text[0] == '.');
}

}  // namespace korvex::commands

#endif  // KORVEX_COMMANDS_COMMAND_TEXT_H_
