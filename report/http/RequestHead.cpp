#include "RequestHead.h"

#include <Poco/Ascii.h>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int kEnd = -1;  // the reader's end of stream
// POCO's limits (HTTPRequest, MessageHeader, its header stream's line buffer).
constexpr std::size_t kMaxMethod = 32;
constexpr std::size_t kMaxTarget = 16384;
constexpr std::size_t kMaxVersion = 8;
constexpr std::size_t kMaxName = 256;
constexpr std::size_t kMaxValue = 8192;
constexpr int kMaxFields = 100;
constexpr std::size_t kMaxLine = 4092;

bool isSpace(int character) {
    return Poco::Ascii::isSpace(character);
}

}  // namespace

// The header stream hands the parse whole lines: up to and including '\n', or kMaxLine bytes.
// A line of exactly two bytes ("\r\n", but also "x\n") is its last; after it the parse sees the
// end of the stream.
bool RequestHeadScanner::nextCharacter(const std::string& received) {
    if (next_ == lineEnd_) {
        if (lastLine_) {
            character_ = kEnd;
            return true;
        }
        const std::size_t start = lineEnd_;
        const std::size_t last = start + kMaxLine - 1;
        std::size_t i = std::max(scanned_, start);
        while (i < received.size() && received[i] != '\n' && i < last) {
            ++i;
        }
        if (i >= received.size()) {
            scanned_ = i;
            return false;
        }
        lineEnd_ = i + 1;
        scanned_ = lineEnd_;
        lastLine_ = lineEnd_ - start == 2;
    }
    character_ = static_cast<unsigned char>(received[next_++]);
    return true;
}

// Method, target and version: read while not space, not the end and under the limit; what
// stops it must be a space, else the request is malformed.
void RequestHeadScanner::token(std::size_t limit, Step then) {
    if (!isSpace(character_) && character_ != kEnd && count_ < limit) {
        ++count_;
        wantCharacter_ = true;
    } else if (!isSpace(character_)) {
        step_ = Step::done;
    } else {
        step_ = then;
    }
}

bool RequestHeadScanner::complete(const std::string& received) {
    while (step_ != Step::done) {
        if (wantCharacter_) {
            if (!nextCharacter(received)) {
                return false;
            }
            wantCharacter_ = false;
        }
        const int c = character_;
        switch (step_) {
            case Step::start:
                step_ = c == kEnd ? Step::done : Step::skipBeforeMethod;
                break;
            case Step::skipBeforeMethod:
                if (isSpace(c)) {
                    wantCharacter_ = true;
                } else if (c == kEnd) {
                    step_ = Step::done;
                } else {
                    count_ = 0;
                    step_ = Step::method;
                }
                break;
            case Step::method:
                token(kMaxMethod, Step::skipBeforeTarget);
                break;
            case Step::skipBeforeTarget:
            case Step::skipBeforeVersion:
                if (isSpace(c)) {
                    wantCharacter_ = true;
                } else {
                    count_ = 0;
                    step_ = step_ == Step::skipBeforeTarget ? Step::target : Step::version;
                }
                break;
            case Step::target:
                token(kMaxTarget, Step::skipBeforeVersion);
                break;
            case Step::version:
                token(kMaxVersion, Step::restOfRequestLine);
                break;
            case Step::restOfRequestLine:
                // The header fields start with a character of their own.
                if (c == '\n' || c == kEnd) {
                    step_ = Step::fieldStart;
                }
                wantCharacter_ = true;
                break;
            case Step::fieldStart:
                if (c == kEnd || c == '\r' || c == '\n') {
                    step_ = Step::restOfHead;
                } else if (fields_ == kMaxFields) {
                    step_ = Step::done;
                } else {
                    count_ = 0;
                    step_ = Step::fieldName;
                }
                break;
            case Step::fieldName:
                if (c != kEnd && c != ':' && c != '\n' && count_ < kMaxName) {
                    ++count_;
                    wantCharacter_ = true;
                } else if (c == '\n') {  // a line without a colon is skipped
                    step_ = Step::fieldStart;
                    wantCharacter_ = true;
                } else if (c != ':') {
                    step_ = Step::done;
                } else {
                    step_ = Step::skipBeforeValue;
                    wantCharacter_ = true;
                }
                break;
            case Step::skipBeforeValue:
                if (c != kEnd && isSpace(c) && c != '\r' && c != '\n') {
                    wantCharacter_ = true;
                } else {
                    count_ = 0;
                    step_ = Step::value;
                }
                break;
            case Step::value:  // continuation lines add to the same value and its limit
                if (c != kEnd && c != '\r' && c != '\n' && count_ < kMaxValue) {
                    ++count_;
                    wantCharacter_ = true;
                } else {
                    step_ = Step::valueEnd;
                    wantCharacter_ = c == '\r';
                }
                break;
            case Step::valueEnd:
                if (c == '\n') {
                    step_ = Step::continuation;
                    wantCharacter_ = true;
                } else {
                    step_ = c == kEnd ? Step::continuation : Step::done;
                }
                break;
            case Step::continuation:
                if (c == ' ' || c == '\t') {
                    step_ = Step::value;
                } else {
                    ++fields_;
                    step_ = Step::fieldStart;
                }
                break;
            case Step::restOfHead:
                if (c == '\n' || c == kEnd) {
                    step_ = Step::done;
                } else {
                    wantCharacter_ = true;
                }
                break;
            case Step::done:
                break;
        }
    }
    return true;
}

namespace {

// Whether `line` starts with the field name `name` (any case) and a colon.
bool isField(const std::string& head, std::size_t line, std::size_t end, const char* name,
             std::size_t& value) {
    std::size_t i = line;
    for (; *name != '\0'; ++name, ++i) {
        if (i >= end || Poco::Ascii::toLower(head[i]) != *name) {
            return false;
        }
    }
    if (i >= end || head[i] != ':') {
        return false;
    }
    value = i + 1;
    return true;
}

}  // namespace

bool announcesBody(const std::string& head) {
    // The request line first; then field lines up to the empty line.
    std::size_t line = head.find('\n');
    while (line != std::string::npos && ++line < head.size()) {
        std::size_t end = head.find('\n', line);
        if (end == std::string::npos) {
            end = head.size();
        }
        std::size_t value = 0;
        if (end - line <= 2 && (head[line] == '\r' || head[line] == '\n')) {
            return false;
        }
        if (isField(head, line, end, "transfer-encoding", value)) {
            return true;
        }
        if (isField(head, line, end, "content-length", value)) {
            for (; value < end; ++value) {
                if (Poco::Ascii::isDigit(head[value]) && head[value] != '0') {
                    return true;
                }
            }
        }
        line = end;
    }
    return false;
}

}  // namespace quorvane
