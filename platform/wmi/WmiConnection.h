// The WMI session operations the probes use: WmiSession answers them from WMI in root\cimv2, the
// tests from fakes (tests/fakes/FakeWmi.h). Plain logic, built on every system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "snapshot/TextField.h"

namespace quorvane {

class Session;

// One property value as a Get call delivers it.
struct WmiValue {
    enum class Kind { Failed, Null, Text, Integer };
    Kind kind = Kind::Failed;
    std::u16string text;       // Kind::Text
    std::int32_t integer = 0;  // Kind::Integer (a VT_I4)
};

// One class object; released when destroyed.
class WmiObject {
  public:
    virtual ~WmiObject() = default;
    virtual WmiValue get(const char16_t* propertyName) = 0;
};

// An instance enumerator; released when destroyed.
class WmiEnumerator {
  public:
    virtual ~WmiEnumerator() = default;
    // The next instance, or null at the end, on a time-out or on an error.
    virtual std::unique_ptr<WmiObject> nextInstance() = 0;
    // True once nextInstance() has returned null because the enumeration came to its end; false
    // while it has not, and after a time-out or an error cut the walk short.
    virtual bool reachedEnd() const = 0;
};

class WmiConnection {
  public:
    virtual ~WmiConnection() = default;
    // Null on any result other than success.
    virtual std::unique_ptr<WmiEnumerator> enumerateClass(const char16_t* className) = 0;
    virtual std::unique_ptr<WmiEnumerator> execWqlQuery(const char16_t* wqlText) = 0;
};

// The one seam between the probes and a back end: the connection the session reads WMI through,
// or null once the session is closed (the probes then fail like a failed enumeration). The
// Windows back end defines it over its WmiSession, the tests over a fake connection.
WmiConnection* wmiConnectionOf(Session& session);

}  // namespace quorvane
