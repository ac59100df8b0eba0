// When a request head has arrived: the bytes a client sent so far, read the way POCO's
// HTTP server reads a request line and header (POCO 1.11: line by line, at most 4092 bytes a
// line, an empty line ends the head; the limits on method, target, version, field names, values
// and the number of fields). A connection is given to a connection thread only once its reading
// there will not wait for the client, so the rule must match POCO's own, byte for byte:
// one that thought a head complete too early would let a slow client hold a thread again.
#pragma once

#include <cstddef>
#include <string>

namespace quorvane {

class RequestHeadScanner {
  public:
    // `received` holds every byte of the connection so far and only grows between calls. True
    // once POCO would read its request from these bytes without waiting for more:
    // the head is complete, or so malformed that it is answered with 400 at once.
    bool complete(const std::string& received);

  private:
    enum class Step : unsigned char {
        start,
        skipBeforeMethod,
        method,
        skipBeforeTarget,
        target,
        skipBeforeVersion,
        version,
        restOfRequestLine,
        fieldStart,
        fieldName,
        skipBeforeValue,
        value,
        valueEnd,
        continuation,
        restOfHead,
        done,
    };

    bool nextCharacter(const std::string& received);
    void token(std::size_t limit, Step then);

    Step step_ = Step::start;
    bool wantCharacter_ = true;  // the step needs the next character before it can go on
    int character_ = 0;
    std::size_t count_ = 0;  // length of the token, name or value being read
    int fields_ = 0;
    // The line reader: [next_, lineEnd_) is what it has handed over and the parse not yet taken;
    // scanned_ is how far it has looked for the end of the next line.
    std::size_t next_ = 0;
    std::size_t lineEnd_ = 0;
    std::size_t scanned_ = 0;
    bool lastLine_ = false;  // a line of exactly two bytes ends the head for the reader
};

// True when the request head `head` announces a body (a Content-Length other than 0, or a
// Transfer-Encoding): bytes the server never reads may still be on their way after the response.
bool announcesBody(const std::string& head);

}  // namespace quorvane
