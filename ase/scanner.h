// Token scanner: streams an ASE file through one fixed buffer and offers the reads the passes use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessloom {

// Reads the input as text: a carriage return right before a line feed is dropped, a lone one
// is kept, and a control-Z (byte 26) ends the input. Memory stays at the buffer whatever the
// input's size. Reads that fail leave their target unchanged; read errors throw Rejected.
class Scanner {
  public:
    static constexpr std::size_t kMaxToken = 255;  // longer tokens never equal a keyword
    static constexpr std::size_t kMaxSkip = 254;   // skipLine() discards at most this many

    // The stream stays owned by the caller. Blocks are at most `blockSize` bytes, and no
    // larger than a regular file's size needs.
    explicit Scanner(std::FILE* file, std::size_t blockSize);

    // Back to the start of the input for a new pass.
    void rewind();

    // Bytes taken from the input in the pass, up to a control-Z.
    std::uint64_t bytesRead() const { return bytesRead_; }

    // Skips white space and reads one token. The view lives until the next call on the
    // scanner. A token longer than kMaxToken is consumed whole and comes back longer than
    // kMaxToken, so it never equals a keyword. False at end of input.
    bool nextToken(std::string_view& token);

    // Discards up to and including the next line feed, at most kMaxSkip characters.
    void skipLine();

    // Skips any amount of white space, none included (a blank, tab or line feed in a format).
    void skipWhite() {
        // most values are preceded by a single separator; the sentinel sends pos_ == end_ on
        if (!isWhite(*pos_)) return;
        if (pos_ + 1 < end_ && !isWhite(pos_[1])) {
            ++pos_;
            return;
        }
        skipWhiteRun();
    }

    // Discards tokens, across line ends, up to and including the first that equals
    // `keyword` (which begins with a non-white character); false at end of input.
    bool findToken(std::string_view keyword);

    static constexpr bool isWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    // Consumes c when it is the next character; otherwise leaves the input as it is.
    bool literal(char c);

    // "%d": white space, an optional sign and decimal digits, saturated to the int32 range.
    bool readInt(std::int32_t& out);

    // "%f": white space, then [sign] digits [. digits] with at least one digit, then an
    // optional exponent; rounded to the nearest float, overflow to infinity.
    bool readFloat(float& out);

    // "%s": white space, then one whole token of any length.
    bool readWord(std::string& out);

  private:
    void setSentinel();
    void skipWhiteRun();
    bool refill();
    bool ensure(std::size_t count);
    int peek();
    bool longToken(std::string_view& token, std::size_t length);
    bool readIntSlow(std::int32_t& out);
    bool readFloatSlow(float& out);

    std::FILE* file_;
    std::size_t blockSize_;
    std::unique_ptr<char[]> buffer_;  // never zero-filled: each page costs only when used
    char* blockStart_;
    char* pos_;
    char* end_;
    bool rawEnd_ = false;     // the file has no more bytes
    bool ended_ = false;      // nothing more will be added to the buffer
    bool pendingCR_ = false;  // a carriage return at the end of a block, not yet decided
    std::uint64_t bytesRead_ = 0;
    char* wholeEnd_ = nullptr;  // set when the whole input is in the buffer from its start
    std::string spill_;         // the head of a token that outgrew the buffer
};

// Converts a number span of the "%f" grammar, without its sign and without an incomplete
// exponent, to the nearest float; out of range gives infinity or zero.
float convertFloat(const char* first, const char* last, bool negative);

}  // namespace tessloom
