#include "WmiSession.h"

// Before windows.h: POCO's headers bring in winsock2.h, which must come first.
#include <Poco/Logger.h>

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace quorvane {

// Text crosses between the platform-neutral char16_t and the Windows wchar_t here only.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is UTF-16 on Windows");
static_assert(std::is_same_v<BSTR, wchar_t*>, "the session's namespacePath field holds a BSTR");

namespace {

const wchar_t kWmiNamespacePath[] = L"\\\\.\\root\\cimv2";

// WbemAdministrativeLocator {CB8555CC-9128-11D1-AD9B-00C04FD8FDFF}.
const CLSID kWbemAdministrativeLocator = {
    0xcb8555cc, 0x9128, 0x11d1, {0xad, 0x9b, 0x00, 0xc0, 0x4f, 0xd8, 0xfd, 0xff}};

// The refresh holds snapshotMutex while it waits for WMI, so no wait may be endless: a stalled
// provider would freeze every report and the shutdown. Calls return at once (semisynchronous
// mode) and all Next calls of one enumeration together wait at most this long.
constexpr ULONGLONG kEnumerationBudgetMs = 5000;

// How long open and each retryOpen wait for the connection. A connection that takes longer is
// taken by a later retryOpen: start-up, and each refresh while WMI is not there, wait no longer.
constexpr std::chrono::milliseconds kConnectWait(3000);
// About a minute of refreshes (one try before each) without WMI is worth an administrator's look.
constexpr int kTriesBeforeWarning = 12;

constexpr long kEnumerateFlags =
    WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_SHALLOW | WBEM_FLAG_RETURN_IMMEDIATELY;
constexpr long kQueryFlags = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY;

std::wstring toWide(const char16_t* text) {
    std::wstring wide;
    for (; *text != u'\0'; ++text) {
        wide.push_back(static_cast<wchar_t>(*text));
    }
    return wide;
}

std::u16string fromWide(const wchar_t* text, std::size_t length) {
    std::u16string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(static_cast<char16_t>(text[i]));
    }
    return out;
}

// A BSTR freed on every way out.
class OwnedBstr {
  public:
    explicit OwnedBstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
    ~OwnedBstr() {
        if (value_ != nullptr) {
            SysFreeString(value_);
        }
    }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;

    BSTR get() const { return value_; }

  private:
    BSTR value_;
};

class WbemObject : public WmiObject {
  public:
    explicit WbemObject(IWbemClassObject* object) : object_(object) {}
    ~WbemObject() override { object_->Release(); }
    WbemObject(const WbemObject&) = delete;
    WbemObject& operator=(const WbemObject&) = delete;

    WmiValue get(const char16_t* propertyName) override {
        WmiValue value;
        const std::wstring name = toWide(propertyName);
        VARIANT variant;
        VariantInit(&variant);
        const HRESULT result = object_->Get(name.c_str(), 0, &variant, nullptr, nullptr);
        if (FAILED(result)) {
            return value;
        }
        switch (variant.vt) {
            case VT_NULL:
                value.kind = WmiValue::Kind::Null;
                break;
            case VT_BSTR:
                value.kind = WmiValue::Kind::Text;
                if (variant.bstrVal != nullptr) {
                    value.text = fromWide(variant.bstrVal, SysStringLen(variant.bstrVal));
                }
                break;
            case VT_I4:
                value.kind = WmiValue::Kind::Integer;
                value.integer = variant.lVal;
                break;
            case VT_UI4:
                // Same 32 bits; the readers take them as unsigned anyway.
                value.kind = WmiValue::Kind::Integer;
                value.integer = static_cast<std::int32_t>(variant.ulVal);
                break;
            default:
                // A type none of the readers takes: reading another union member would be wrong.
                break;
        }
        VariantClear(&variant);
        return value;
    }

  private:
    IWbemClassObject* object_;
};

class WbemEnumerator : public WmiEnumerator {
  public:
    WbemEnumerator(IEnumWbemClassObject* enumerator, WmiSession::Clock clock, ULONGLONG deadline)
        : enumerator_(enumerator), clock_(clock), deadline_(deadline) {}
    ~WbemEnumerator() override {
        if (pending_ != nullptr) {
            pending_->Release();
        }
        enumerator_->Release();
    }
    WbemEnumerator(const WbemEnumerator&) = delete;
    WbemEnumerator& operator=(const WbemEnumerator&) = delete;

    // In semisynchronous mode a failed query only shows at the first Next. Fetching the first
    // instance before the enumerator is handed out lets such a failure, or a provider that
    // does not answer in time, fail the call as the synchronous call would have, so the probe
    // keeps its destination. True when the enumeration can be walked.
    bool prefetch() {
        IWbemClassObject* object = nullptr;
        const HRESULT result = fetch(object);
        if (result == WBEM_S_NO_ERROR) {
            pending_ = object;
            return true;
        }
        // An empty result set ends at once with WBEM_S_FALSE: a successful enumeration, and one
        // whose end is already known, so the walk asks WMI no further.
        ended_ = true;
        reachedEnd_ = result == WBEM_S_FALSE;
        return reachedEnd_;
    }

    std::unique_ptr<WmiObject> nextInstance() override {
        if (pending_ != nullptr) {
            IWbemClassObject* object = pending_;
            pending_ = nullptr;
            return std::make_unique<WbemObject>(object);
        }
        if (ended_) {
            return nullptr;
        }
        IWbemClassObject* object = nullptr;
        const HRESULT result = fetch(object);
        if (result != WBEM_S_NO_ERROR) {
            ended_ = true;
            reachedEnd_ = result == WBEM_S_FALSE;
            return nullptr;
        }
        return std::make_unique<WbemObject>(object);
    }

    bool reachedEnd() const override { return reachedEnd_; }

  private:
    // One instance, waiting no longer than the enumeration's remaining budget. Anything but
    // WBEM_S_NO_ERROR with one instance (the end, a time-out, an error) yields none.
    HRESULT fetch(IWbemClassObject*& object) {
        const ULONGLONG now = clock_();
        const long timeout = now >= deadline_ ? 0 : static_cast<long>(deadline_ - now);
        ULONG returned = 0;
        object = nullptr;
        const HRESULT result = enumerator_->Next(timeout, 1, &object, &returned);
        if (result == WBEM_S_NO_ERROR && returned == 1 && object != nullptr) {
            return result;
        }
        if (object != nullptr) {
            object->Release();
            object = nullptr;
        }
        // Success without an instance breaks the interface's contract: not a clean end.
        return result == WBEM_S_NO_ERROR ? static_cast<HRESULT>(WBEM_E_FAILED) : result;
    }

    IEnumWbemClassObject* enumerator_;
    IWbemClassObject* pending_ = nullptr;
    WmiSession::Clock clock_;
    ULONGLONG deadline_;
    bool ended_ = false;
    bool reachedEnd_ = false;
};

// Only an exact WBEM_S_NO_ERROR counts; an enumerator handed back with any other result is
// released here.
std::unique_ptr<WmiEnumerator> walkable(HRESULT result, IEnumWbemClassObject* enumerator,
                                        WmiSession::Clock clock, ULONGLONG deadline) {
    if (result != WBEM_S_NO_ERROR) {
        if (enumerator != nullptr) {
            enumerator->Release();
        }
        return nullptr;
    }
    if (enumerator == nullptr) {
        return nullptr;
    }
    auto walk = std::make_unique<WbemEnumerator>(enumerator, clock, deadline);
    if (!walk->prefetch()) {
        return nullptr;
    }
    return walk;
}

unsigned long long systemTickCount() {
    return GetTickCount64();
}

// What one connection attempt holds: all three, or nothing.
struct Connection {
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    BSTR namespacePath = nullptr;
};

// In the order close releases them.
void release(Connection& connection) {
    if (connection.namespacePath != nullptr) {
        SysFreeString(connection.namespacePath);
    }
    if (connection.services != nullptr) {
        connection.services->Release();
    }
    if (connection.locator != nullptr) {
        connection.locator->Release();
    }
    connection = Connection{};
}

Connection connectToNamespace() {
    Connection connection;
    void* created = nullptr;
    HRESULT result =
        CoCreateInstance(kWbemAdministrativeLocator, nullptr,
                         CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IWbemLocator, &created);
    if (FAILED(result) || created == nullptr) {
        return connection;
    }
    connection.locator = static_cast<IWbemLocator*>(created);

    connection.namespacePath = SysAllocString(kWmiNamespacePath);
    if (connection.namespacePath == nullptr) {
        release(connection);
        return connection;
    }

    // WBEM_FLAG_CONNECT_USE_MAX_WAIT bounds the call to two minutes, so an attempt on a WMI
    // service that does not answer ends and the next one can start.
    IWbemServices* connected = nullptr;
    result = connection.locator->ConnectServer(connection.namespacePath, nullptr, nullptr, nullptr,
                                               WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr,
                                               &connected);
    if (FAILED(result) || connected == nullptr) {
        if (connected != nullptr) {
            connected->Release();
        }
        release(connection);
        return connection;
    }
    connection.services = connected;

    // The connection stays usable with the default blanket, so the result does not matter.
    CoSetProxyBlanket(connection.services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                      RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    return connection;
}

}  // namespace

// Shared by the session and the thread that connects, which may outlive the session's wait, or
// the session itself.
struct WmiSession::Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;  // nobody takes the connection: its thread releases it
    Connection connection;
};

// Runs on a thread of its own, in the process's multithreaded apartment like the rest of the
// agent, so the interfaces it obtains are used directly by the refresh threads.
void WmiSession::connectInBackground(const std::shared_ptr<Attempt>& attempt) {
    const bool comEntered = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    Connection connection = connectToNamespace();
    {
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (!attempt->abandoned) {
            attempt->connection = connection;
            connection = Connection{};
        }
        attempt->done = true;
    }
    attempt->finished.notify_all();
    release(connection);
    if (comEntered) {
        CoUninitialize();
    }
}

WmiSession::WmiSession(Clock clock) : clock_(clock != nullptr ? clock : systemTickCount) {}

WmiSession::~WmiSession() {
    close();
}

bool WmiSession::open() {
    // Nothing is held on entry; closing first keeps a second open from leaking the first.
    close();

    const HRESULT result =
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(result)) {
        return false;
    }
    securityReady_ = true;
    return retryOpen();
}

bool WmiSession::retryOpen() {
    if (services != nullptr) {
        return true;
    }
    const bool connected = tryToConnect();
    if (connected) {
        if (failedTries_ >= kTriesBeforeWarning) {
            Poco::Logger::get("WMI").information("WMI answers again after " +
                                                 std::to_string(failedTries_) +
                                                 " tries; the inventory follows.");
        }
        failedTries_ = 0;
    } else if (++failedTries_ == kTriesBeforeWarning) {
        Poco::Logger::get("WMI").warning(
            "WMI (root\\cimv2) has not answered for " + std::to_string(kTriesBeforeWarning) +
            " tries; the report lacks what it provides (BIOS, computer system, processors, "
            "operating system, disks, processor load) until it does.");
    }
    return connected;
}

bool WmiSession::tryToConnect() {
    if (!securityReady_) {
        return false;
    }
    if (!attempt_) {
        try {
            auto attempt = std::make_shared<Attempt>();
            std::thread(&WmiSession::connectInBackground, attempt).detach();
            attempt_ = attempt;
        } catch (const std::exception&) {
            return false;  // no memory or no thread now; the next retry tries again
        }
    }
    Connection connection;
    {
        std::unique_lock<std::mutex> lock(attempt_->mutex);
        if (!attempt_->finished.wait_for(lock, kConnectWait, [this] { return attempt_->done; })) {
            return false;  // still on its way: a later retry takes it
        }
        connection = attempt_->connection;
    }
    attempt_.reset();
    if (connection.services == nullptr) {
        return false;  // failed: the next retry starts another attempt
    }
    locator = connection.locator;
    services = connection.services;
    namespacePath = connection.namespacePath;
    return true;
}

void WmiSession::close() {
    securityReady_ = false;
    if (attempt_) {
        std::lock_guard<std::mutex> lock(attempt_->mutex);
        attempt_->abandoned = true;
        // Arrived but not yet taken: nobody else will release it.
        release(attempt_->connection);
    }
    attempt_.reset();
    if (namespacePath != nullptr) {
        SysFreeString(namespacePath);
        namespacePath = nullptr;
    }
    if (services != nullptr) {
        services->Release();
        services = nullptr;
    }
    if (locator != nullptr) {
        locator->Release();
        locator = nullptr;
    }
}

std::unique_ptr<WmiEnumerator> WmiSession::enumerateClass(const char16_t* className) {
    if (services == nullptr) {
        return nullptr;
    }
    // Across the process boundary a filter must be a real BSTR, length prefix included.
    const OwnedBstr filter(toWide(className));
    if (filter.get() == nullptr) {
        return nullptr;
    }
    const ULONGLONG deadline = clock_() + kEnumerationBudgetMs;
    IEnumWbemClassObject* enumerator = nullptr;
    const HRESULT result =
        services->CreateInstanceEnum(filter.get(), kEnumerateFlags, nullptr, &enumerator);
    return walkable(result, enumerator, clock_, deadline);
}

std::unique_ptr<WmiEnumerator> WmiSession::execWqlQuery(const char16_t* wqlText) {
    if (services == nullptr) {
        return nullptr;
    }
    const OwnedBstr language(L"WQL");
    const OwnedBstr query(toWide(wqlText));
    if (language.get() == nullptr || query.get() == nullptr) {
        return nullptr;
    }
    const ULONGLONG deadline = clock_() + kEnumerationBudgetMs;
    IEnumWbemClassObject* enumerator = nullptr;
    const HRESULT result =
        services->ExecQuery(language.get(), query.get(), kQueryFlags, nullptr, &enumerator);
    return walkable(result, enumerator, clock_, deadline);
}

}  // namespace quorvane
